#include "driver/RunSequence.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <new>

#include "Version.h"
#include "common/DecimalNumber.h"
#include "common/FailedRun.h"
#include "common/myException.h"
#include "driver/CommandLine.h"
#include "driver/MemoryBudget.h"
#include "driver/ProgressLine.h"
#include "driver/Report.h"
#include "history/Bootstrap.h"
#include "history/DuplicationTree.h"
#include "history/EdgeLengths.h"
#include "history/Refinement.h"
#include "output/NewickWriter.h"
#include "output/SvgWriter.h"
#include "sequences/MatrixFile.h"
#include "sequences/SequenceFileReader.h"
#include "sequences/SequenceSet.h"

const char* const kFileNamePrompt = "Input the file name:";
const char* const kMoleculePrompt = "Input 'Y' if the file contains protein sequences, 'N' if DNA sequence: ";
const char* const kCriterionPrompt =
    "Choose the algorithm (1,2,3 to choose one of the three algorithms, or 4 to choose all): ";

namespace {

void writeLine(std::ostream& out, const std::string& text) { out << text << '\n' << std::flush; }

// Writes a prompt (no line end), then reads one whitespace-delimited word;
// the end of the input gives the empty word.
std::string ask(std::ostream& out, std::istream& in, const char* prompt) {
    out << prompt << std::flush;
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

int runProgram(const std::vector<std::string>& words, std::istream& in, std::ostream& out) {
    const CommandLine line = parseCommandLine(words);
    if (!line.unknownOption.empty()) {
        writeLine(out, "Unknown option " + line.unknownOption + ": see tandemtree --help");
        return 1;
    }
    if (line.help) {
        out << helpText() << std::flush;
        return 0;
    }
    if (line.version) {
        writeLine(out, std::string("tandemtree ") + TANDEMTREE_VERSION);
        return 0;
    }
    if (line.newick && line.svg) {
        writeLine(out, "Choose one of --newick and --svg");
        return 1;
    }
    if (!line.badValue.empty()) {
        writeLine(out, line.badValue);
        return 1;
    }
    if (line.supportLabels && (!line.newick || line.bootstrap == 0)) {
        writeLine(out, "--support-labels needs --newick and --bootstrap");
        return 1;
    }
    if (line.matrix && line.bootstrap > 0) {
        writeLine(out, "--bootstrap resamples the alignment's columns: it needs an alignment, not --matrix");
        return 1;
    }
    if (line.matrix && !line.distance.isDefault()) {
        writeLine(out, "--model and --gaps say how distances are made from an alignment: not with --matrix");
        return 1;
    }
    if (line.matrix && line.positional.size() > 2) {
        writeLine(out, "With --matrix give the file and the criterion only: a matrix has no molecule kind");
        return 1;
    }
    // With --matrix the second word is the criterion: there is no molecule kind.
    std::vector<std::string> args = line.positional;
    if (line.matrix && args.size() >= 2) args.insert(args.begin() + 1, "");

    std::ifstream file;
    SequenceSet sequences;
    return withFailuresReported(
        [&] {
            const std::string fileName = args.size() >= 1 ? args[0] : ask(out, in, kFileNamePrompt);
            // "-" is standard input, which then holds the sequences and cannot
            // answer a prompt as well.
            const bool fromInput = fileName == "-";
            if (fromInput && args.size() < 3) {
                writeLine(out, line.matrix
                                   ? std::string("Matrix read from standard input: give the criterion "
                                                 "(second argument, 1 to 4) on the command line")
                                   : std::string("Sequences read from standard input: give ") +
                                         (args.size() < 2 ? "the molecule kind (second argument, N or Y) and " : "") +
                                         "the criterion (third argument, 1 to 4) on the command line");
                return 1;
            }
            if (!fromInput && !canOpen(fileName, file)) {
                writeLine(out, "Cannot open file " + fileName);
                return 1;
            }
            const int threads = line.threads > 0 ? line.threads : defaultThreads();
            if (line.matrix) {
                MatrixFile matrix = readMatrixFile(fromInput ? in : file);
                sequences.count = matrix.distances->count();
                sequences.names = std::move(matrix.names);
                sequences.distances = std::move(matrix.distances);
            } else {
                sequences.isProtein =
                    args.size() >= 2 ? isProteinArgument(args[1]) : isProteinAnswer(ask(out, in, kMoleculePrompt));
                sequences.distanceOptions = distanceOptionsOf(line, sequences.isProtein);
                sequences.readSequences(fromInput ? in : file);
                reserveMemory(DistanceMatrix::bytesFor(sequences.count) +
                              WorkingDistanceTable::bytesFor(sequences.count));
                sequences.computeDistances(threads);
            }
            if (!fromInput) file.close();
            if (!line.writeMatrix.empty()) {
                std::ofstream written(line.writeMatrix);
                if (written.is_open()) writeMatrixFile(written, *sequences.distances, sequences.names);
                if (!written.is_open() || !written) {
                    writeLine(out, "Cannot write file " + line.writeMatrix);
                    return 1;
                }
            }

            const int criterion = parseCriterion(args.size() >= 3 ? args[2] : ask(out, in, kCriterionPrompt));
            if (criterion <= 0) {
                writeLine(out,
                          "Unknown algorithm " + std::to_string(criterion) + ": choose 1, 2, 3, or 4 for all three");
                return 1;
            }
            const bool all = criterion > blockCriteria().back().number;
            const std::vector<const CriterionEntry*> runs = criteriaToRun(criterion);
            reserveRunMemory(line, runs, sequences.count, threads);
            BootstrapSettings bootstrap;
            bootstrap.replicates = line.bootstrap;
            bootstrap.seed = line.seed;
            bootstrap.threads = threads;
            RefineSettings refining;
            refining.kicks = line.kicks;
            refining.rebuilds = line.rebuilds;
            refining.ratchet = line.ratchet;
            bootstrap.refine = line.refine;
            bootstrap.refining = refining;  // replicates share the threads among themselves
            refining.threads = threads;

            DuplicationTree tree;
            std::vector<SvgPanel> panels;
            // Progress goes to standard error, and only when that is a terminal.
            ProgressLine progress(isatty(STDERR_FILENO) ? &std::cerr : nullptr);
            for (const CriterionEntry* entry : runs) {
                const std::unique_ptr<BlockCriterion> chosen = entry->make();
                chosen->setThreads(threads);
                progress.start(entry->number, std::max(sequences.count - 1, 0));
                // The working table takes the distances in, giving their
                // memory back as it reads them, unless they came from a
                // matrix file and are needed again; distances made from the
                // alignment are made again once the table is gone, for
                // whatever needs them next (replicates make their own).
                const bool neededAfter = line.refine || line.newick || entry != runs.back();
                if (line.matrix && neededAfter) {
                    tree.reconstruct(*sequences.distances, *chosen, &progress);
                } else {
                    tree.reconstruct(std::move(*sequences.distances), *chosen, &progress);
                    sequences.distances.reset();
                    if (neededAfter) sequences.computeDistances(threads);
                }
                progress.finish();
                refining.criterion = entry->number;
                if (line.refine) refineHistory(tree, *sequences.distances, refining);
                HistorySupport support;
                if (line.bootstrap > 0) support = bootstrapSupport(sequences, tree, *entry, bootstrap);
                const HistorySupport* supported = line.bootstrap > 0 ? &support : nullptr;
                if (line.svg) {
                    panels.push_back(drawHistory(entry->number, tree, sequences.names, supported, line.refine));
                } else if (line.newick) {
                    const EdgeLengths lengths = fitEdgeLengths(tree, *sequences.distances);
                    if (supported != nullptr && support.used() == 0)
                        for (const std::string& text : supportLines(tree, support)) writeLine(out, text);
                    writeLine(out, newickText(tree, sequences.names, {&lengths, supported, line.supportLabels}));
                } else {
                    printReport(entry->number, tree, all, out, supported, line.refine);
                }
            }
            if (line.svg)
                for (const std::string& text : svgDocument(panels)) writeLine(out, text);
            return 0;
        },
        sequences.count, out);
}

int withFailuresReported(const std::function<int()>& run, const int& sequenceCount, std::ostream& out) {
    try {
        return run();
    } catch (const SequenceFileError& error) {
        writeLine(out, error.what());
        return 1;
    } catch (const FailedRun& error) {
        writeLine(out, error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        writeLine(out, "Not enough memory for " + std::to_string(sequenceCount) + " sequences");
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
