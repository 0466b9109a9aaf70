#include "driver/RunSequence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include "Version.h"
#include "common/DecimalNumber.h"
#include "common/FailedRun.h"
#include "common/MemoryBudget.h"
#include "common/OutputLines.h"
#include "common/myException.h"
#include "driver/CommandLine.h"
#include "driver/CriterionRuns.h"
#include "driver/ProgressLine.h"
#include "driver/Prompts.h"
#include "driver/Report.h"
#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"
#include "history/Refinement.h"
#include "output/NewickWriter.h"
#include "output/SvgWriter.h"
#include "sequences/Letters.h"
#include "sequences/MatrixFile.h"
#include "sequences/SequenceFileReader.h"
#include "sequences/SequenceSet.h"

namespace {

// At least this share of the letters of a DNA alignment are A, C, G, T, U or N.
constexpr double kNucleotideShareOfDna = 0.9;

// Writes a prompt (no line end), then reads one whitespace-delimited word;
// the end of the input gives the empty word.
std::string ask(std::ostream& out, std::istream& in, const char* prompt) {
    writeText(out, prompt);
    std::string word;
    in >> word;
    return word;
}

bool canOpen(const std::string& name, std::ifstream& file) {
    std::error_code error;
    if (name.empty() || std::filesystem::is_directory(name, error)) return false;
    file.open(name);
    return file.is_open();
}

// The criteria a number runs: the one it names, or all of them in turn for a
// number past the last.
std::vector<const CriterionEntry*> criteriaToRun(int criterion) {
    const std::vector<CriterionEntry>& criteria = blockCriteria();
    const bool all = criterion > criteria.back().number;
    std::vector<const CriterionEntry*> runs;
    for (const CriterionEntry& entry : criteria)
        if (all || entry.number == criterion) runs.push_back(&entry);
    return runs;
}

// Checks, before anything is made, that what the run will hold at once fits
// in the memory at hand, beyond the distances and the working table already
// checked: the criteria's state (once per thread that shares the work), the
// refinement's table of distances, and the tables of every thread of a
// bootstrap.
void reserveRunMemory(const CommandLine& line, const std::vector<const CriterionEntry*>& runs, int n, int threads) {
    std::uint64_t state = 0;
    for (const CriterionEntry* entry : runs) state = std::max(state, entry->bytesFor(n));
    if (state > 0) reserveMemory(WorkingDistanceTable::bytesFor(n) + state * static_cast<std::uint64_t>(threads));
    if (line.refine) reserveMemory(WorkingDistanceTable::bytesFor(n));
    if (line.bootstrap > 0) {
        const std::uint64_t perThread = DistanceMatrix::bytesFor(n) + WorkingDistanceTable::bytesFor(n) + state;
        reserveMemory(perThread * static_cast<std::uint64_t>(std::min(threads, line.bootstrap)));
    }
}

// The distance model and the handling of gaps that the options ask for,
// checked against the molecule kind.
DistanceOptions distanceOptionsOf(const CommandLine& line, bool isProtein) {
    if (line.distance.model == DistanceModel::kimuraTwoParameter && isProtein)
        throw FailedRun("--model k2p is for DNA (KIND N); for protein choose jc, kimura or p");
    if (line.distance.model == DistanceModel::kimuraProtein && !isProtein)
        throw FailedRun("--model kimura is for protein; for DNA choose jc, k2p or p");
    return line.distance;
}

}  // namespace

int parseCriterion(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const DecimalNumber number = DecimalNumber::read(text, i);
    if (!number.fitsInt()) return number.negative ? INT_MIN : INT_MAX;
    return static_cast<int>(number.value());
}

bool isProteinArgument(const std::string& argument) { return argument.empty() || argument[0] != 'N'; }

bool isProteinAnswer(const std::string& answer) { return answer.empty() || (answer[0] != 'N' && answer[0] != 'n'); }

namespace {

// The settings that are words on the command line: the file name, the
// molecule kind and the criterion, or the prompts' answers for those missing.
struct RunWords {
    std::vector<std::string> args;
    std::istream& in;
    std::ostream& out;

    bool has(std::size_t k) const { return args.size() > k; }
    std::string fileName() const { return has(0) ? args[0] : ask(out, in, kFileNamePrompt); }
    bool isProtein() const {
        return has(1) ? isProteinArgument(args[1]) : isProteinAnswer(ask(out, in, kMoleculePrompt));
    }
    int criterion() const { return parseCriterion(has(2) ? args[2] : ask(out, in, kCriterionPrompt)); }
};

// Why standard input cannot hold the sequences as the words stand, or
// nothing: it cannot answer a prompt as well.
std::string standardInputProblem(const CommandLine& line, const RunWords& words) {
    if (words.has(2)) return "";
    if (line.matrix)
        return "Matrix read from standard input: give the criterion (second argument, 1 to 4) on the command line";
    return std::string("Sequences read from standard input: give ") +
           (words.has(1) ? "" : "the molecule kind (second argument, N or Y) and ") +
           "the criterion (third argument, 1 to 4) on the command line";
}

// Warnings, on standard error and never on standard output, when the letters
// disagree with the molecule kind or stand in both cases: both give a tree
// that looks fine and is wrong.
void warnOfLetters(const CommandLine& line, const SequenceSet& sequences) {
    const LetterCensus census = letterCensus(sequences.sequences);
    if (census.letters == 0) return;
    const int percent = static_cast<int>(100.0 * census.nucleotideShare());
    if (sequences.isProtein && census.nucleotideShare() >= kNucleotideShareOfDna)
        std::cerr << "Warning: the molecule kind is protein, but " << percent
                  << "% of the letters are A, C, G, T, U or N: give N for DNA" << std::endl;
    if (!sequences.isProtein && census.nucleotideShare() < kNucleotideShareOfDna)
        std::cerr << "Warning: the molecule kind is DNA, but only " << percent
                  << "% of the letters are A, C, G, T, U or N: is this a protein alignment?" << std::endl;
    if (census.bothCases && !line.ignoreCase)
        std::cerr << "Warning: " << census.lowerCase << " of the " << census.letters
                  << " letters are in lower case and differ from the same letters in upper case; --ignore-case "
                     "compares them as equal"
                  << std::endl;
}

// The distances of the input, into `sequences`: a matrix as it stands, or
// the alignment read and its distances computed.
void loadDistances(const CommandLine& line, const RunWords& words, std::istream& source, SequenceSet& sequences,
                   int threads) {
    if (line.matrix) {
        MatrixFile matrix = readMatrixFile(source);
        sequences.count = matrix.distances->count();
        sequences.names = std::move(matrix.names);
        sequences.distances = std::move(matrix.distances);
        return;
    }
    sequences.isProtein = words.isProtein();
    sequences.distanceOptions = distanceOptionsOf(line, sequences.isProtein);
    sequences.readSequences(source);
    warnOfLetters(line, sequences);
    if (line.ignoreCase) foldToUpperCase(sequences.sequences);
    reserveMemory(DistanceMatrix::bytesFor(sequences.count) + WorkingDistanceTable::bytesFor(sequences.count));
    sequences.computeDistances(threads);
}

int unknownCriterion(std::ostream& out, int criterion) {
    writeLine(out, "Unknown algorithm " + std::to_string(criterion) + ": choose 1, 2, 3, or 4 for all three");
    return 1;
}

// With --verbose: the version, the command and the settings the run uses,
// on standard error, as a log of the run.
void logSettings(const std::vector<std::string>& words, const CommandLine& line, const RunSettings& settings) {
    std::string command = "tandemtree";
    for (const std::string& word : words) command += " " + word;
    const char* models[] = {"jc", "k2p", "p", "kimura"};
    std::cerr << "tandemtree " << TANDEMTREE_VERSION << "\n"
              << "tandemtree: command: " << command << "\n"
              << "tandemtree: model " << models[static_cast<int>(line.distance.model)] << ", gaps "
              << (line.distance.pairwiseGaps ? "pairwise" : "literal") << ", case "
              << (line.ignoreCase ? "ignored" : "compared") << ", seed " << line.seed << ", threads "
              << settings.threads << std::endl;
}

// Why a file to write is the very file the input is read from (the same
// file under any name, or standard input redirected from it), which writing
// would destroy; empty when none is.
std::string writesOverInput(const CommandLine& line, const std::string& fileName, bool fromInput) {
    struct stat input {};
    if ((fromInput ? fstat(STDIN_FILENO, &input) : stat(fileName.c_str(), &input)) != 0) return "";
    const std::pair<const char*, const std::string*> targets[] = {{"--write-matrix", &line.writeMatrix},
                                                                  {"--write-newick", &line.writeNewick},
                                                                  {"--write-svg", &line.writeSvg},
                                                                  {"--write-blocks", &line.writeBlocks},
                                                                  {"--ancestors", &line.ancestors}};
    for (const auto& [option, name] : targets) {
        struct stat target {};
        if (name->empty() || stat(name->c_str(), &target) != 0) continue;  // none, or a new file
        if (target.st_dev == input.st_dev && target.st_ino == input.st_ino)
            return std::string(option) + " " + *name + " is the input file: give another file to write";
    }
    return "";
}

// Writes the distances where --write-matrix asks; false when it cannot.
bool writeMatrixIfAsked(const CommandLine& line, const SequenceSet& sequences) {
    if (line.writeMatrix.empty()) return true;
    std::ofstream written(line.writeMatrix);
    if (written.is_open()) writeMatrixFile(written, *sequences.distances, sequences.names);
    return written.is_open() && written;
}

// What the options alone answer (a wrong option, the help, the version, a
// combination that cannot run): the exit code, or -1 for a run.
int answerAtOnce(const CommandLine& line, std::ostream& out, std::ostream& said) {
    if (!line.unknownOption.empty()) {
        writeLine(said, "Unknown option " + line.unknownOption + ": see tandemtree --help");
        return 1;
    }
    if (line.help) {
        writeText(out, helpText());
        return 0;
    }
    if (line.version) {
        writeLine(out, std::string("tandemtree ") + TANDEMTREE_VERSION);
        return 0;
    }
    const std::string wrong = checkCommandLine(line);
    if (!wrong.empty()) {
        writeLine(said, wrong);
        return 1;
    }
    return -1;
}

int runSteps(const std::vector<std::string>& words, std::istream& in, std::ostream& out) {
    const CommandLine line = parseCommandLine(words);
    // Newick and SVG are for other programs to read: there, prompts and
    // messages go to standard error and standard output holds the result
    // alone. The report keeps everything on standard output.
    std::ostream& said = line.newick || line.svg ? std::cerr : out;
    const int answered = answerAtOnce(line, out, said);
    if (answered >= 0) return answered;
    // With --matrix the second word is the criterion: there is no molecule kind.
    RunWords run{line.positional, in, said};
    if (line.matrix && run.args.size() >= 2) run.args.insert(run.args.begin() + 1, "");

    std::ifstream file;
    SequenceSet sequences;
    std::string undefinedPair;  // the line after an undefined distance's message
    const int code = withFailuresReported(
        [&] {
            const std::string fileName = run.fileName();
            // "-" is standard input, which then holds the sequences.
            const bool fromInput = fileName == "-";
            const std::string problem = fromInput ? standardInputProblem(line, run) : "";
            if (!problem.empty()) {
                writeLine(said, problem);
                return 1;
            }
            if (!fromInput && !canOpen(fileName, file)) {
                writeLine(said, "Cannot open file " + fileName);
                return 1;
            }
            // A criterion given as an argument is checked before any work.
            if (run.has(2) && parseCriterion(run.args[2]) <= 0)
                return unknownCriterion(said, parseCriterion(run.args[2]));
            const std::string overInput = writesOverInput(line, fileName, fromInput);
            if (!overInput.empty()) {
                writeLine(said, overInput);
                return 1;
            }
            const RunSettings settings = settingsOf(line, line.threads > 0 ? line.threads : defaultThreads());
            if (line.verbose) logSettings(words, line, settings);
            const auto started = std::chrono::steady_clock::now();
            try {
                loadDistances(line, run, fromInput ? in : file, sequences, settings.threads);
            } catch (const myException&) {
                // Programs that read Newick or SVG, and --verbose, are told
                // which pair it was.
                if (line.newick || line.svg || line.verbose) undefinedPair = sequences.undefinedPairText();
                throw;
            }
            if (line.verbose) logStageTime("reading and distances", started);
            if (!fromInput) file.close();
            if (!writeMatrixIfAsked(line, sequences)) {
                writeLine(said, "Cannot write file " + line.writeMatrix);
                return 1;
            }
            const int criterion = run.criterion();
            if (criterion <= 0) return unknownCriterion(said, criterion);
            const std::vector<const CriterionEntry*> runs = criteriaToRun(criterion);
            reserveRunMemory(line, runs, sequences.count, settings.threads);
            CriterionRuns(line, settings, sequences, out).run(runs, criterion > blockCriteria().back().number);
            return 0;
        },
        sequences.count, said);
    // The report keeps standard output as specified: --verbose tells the
    // pair on standard error.
    if (!undefinedPair.empty()) writeLine(line.newick || line.svg ? said : std::cerr, undefinedPair);
    return code;
}

}  // namespace

int runProgram(const std::vector<std::string>& words, std::istream& in, std::ostream& out) {
    try {
        const int code = runSteps(words, in, out);
        errno = 0;
        out.flush();
        checkWritten(out);
        return code;
    } catch (const OutputFailed& failure) {
        std::cerr << "Cannot write to standard output: " << failure.what() << std::endl;
        return 1;
    }
}

int withFailuresReported(const std::function<int()>& run, const int& sequenceCount, std::ostream& out) {
    try {
        return run();
    } catch (const OutputFailed&) {
        throw;  // nothing more can be written there
    } catch (const SequenceFileError& error) {
        writeLine(out, error.what());
        return 1;
    } catch (const FailedRun& error) {
        writeLine(out, error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        writeLine(out, sequenceCount > 0 ? "Not enough memory for " + std::to_string(sequenceCount) + " sequences"
                                         : std::string("Not enough memory to read the input"));
        return 1;
    } catch (const myException& error) {
        // Two copies too far apart for a distance: the run ends normally.
        writeLine(out, error.what());
        return 0;
    } catch (const std::exception& error) {
        writeLine(out, std::string("Internal error: ") + error.what());
        return 1;
    } catch (...) {
        writeLine(out, "Internal error: unknown exception");
        return 1;
    }
}
