#include "driver/RunSequence.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <new>

#include "Version.h"
#include "driver/CommandLine.h"
#include "driver/MemoryBudget.h"
#include "driver/NewickWriter.h"
#include "driver/Report.h"
#include "driver/SvgWriter.h"
#include "history/DuplicationTree.h"
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

}  // namespace

int parseCriterion(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
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
    const std::vector<std::string>& args = line.positional;

    std::ifstream file;
    SequenceSet sequences;
    try {
        const std::string fileName = args.size() >= 1 ? args[0] : ask(out, in, kFileNamePrompt);
        // "-" is standard input, which then holds the sequences and cannot
        // answer a prompt as well.
        const bool fromInput = fileName == "-";
        if (fromInput && args.size() < 3) {
            writeLine(out, std::string("Sequences read from standard input: give ") +
                               (args.size() < 2 ? "the molecule kind (second argument, N or Y) and " : "") +
                               "the criterion (third argument, 1 to 4) on the command line");
            return 1;
        }
        if (!fromInput && !canOpen(fileName, file)) {
            writeLine(out, "Cannot open file " + fileName);
            return 1;
        }
        sequences.isProtein =
            args.size() >= 2 ? isProteinArgument(args[1]) : isProteinAnswer(ask(out, in, kMoleculePrompt));
        sequences.readSequences(fromInput ? in : file);
        reserveMemory(DistanceMatrix::bytesFor(sequences.count) + WorkingDistanceTable::bytesFor(sequences.count));
        sequences.computeDistances();
        if (!fromInput) file.close();

        DuplicationTree tree;
        const int criterion = parseCriterion(args.size() >= 3 ? args[2] : ask(out, in, kCriterionPrompt));
        if (criterion <= 0) {
            writeLine(out, "Unknown algorithm " + std::to_string(criterion) + ": choose 1, 2, 3, or 4 for all three");
            return 1;
        }
        if (criterion == 1 || criterion >= 4)
            reserveMemory(WorkingDistanceTable::bytesFor(sequences.count) +
                          QuartetVoteMatrix::bytesFor(sequences.count));
        const int first = criterion <= 3 ? criterion : 1;
        const int last = criterion <= 3 ? criterion : 3;
        std::vector<SvgPanel> panels;
        // Progress goes to standard error, and only when that is a terminal.
        ProgressLine progress(isatty(STDERR_FILENO) ? &std::cerr : nullptr);
        for (int each = first; each <= last; ++each) {
            tree.reconstruct(*sequences.distances, each, &progress);
            if (line.svg)
                panels.push_back(drawHistory(each, tree, sequences.names));
            else if (line.newick)
                writeLine(out, newickText(tree, sequences.names));
            else
                printReport(each, tree, criterion > 3, out);
        }
        if (line.svg)
            for (const std::string& text : svgDocument(panels)) writeLine(out, text);
    } catch (const SequenceFileError& error) {
        writeLine(out, error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        writeLine(out, "Not enough memory for " + std::to_string(sequences.count) + " sequences");
        return 1;
    } catch (const std::exception& error) {
        writeLine(out, error.what());
    }
    return 0;
}
