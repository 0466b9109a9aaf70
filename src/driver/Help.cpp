#include <string>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/Prompts.h"
#include "history/BlockCriterion.h"

namespace {

constexpr std::size_t kWidth = 80;

// Words of `text` filled into lines of at most kWidth characters, each
// after `indent` blanks.
std::string wrapped(const std::string& text, std::size_t indent) {
    std::string lines, line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && indent + line.size() + 1 + word.size() > kWidth) {
            lines += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return lines + std::string(indent, ' ') + line + "\n";
}

// What a prompt asks, quoted, with what follows it.
std::string asks(const char* prompt, const std::string& after = "") {
    return wrapped("(asks \"" + std::string(prompt) + "\"" + after + ")", 13);
}

// One line per criterion of the table, then the choice of all of them.
std::string criterionLines() {
    std::string lines;
    const std::vector<CriterionEntry>& criteria = blockCriteria();
    for (const CriterionEntry& entry : criteria)
        lines += "               " + std::to_string(entry.number) + "  " + entry.name + "\n";
    return lines + "               " + std::to_string(criteria.back().number + 1) +
           "  all of them in turn (so does any larger number)\n";
}

// Every option of the table: its names and value in a column of 15, its
// lines beside them, or below when the names are wider.
std::string optionLines() {
    constexpr std::size_t kColumn = 15;
    std::string lines;
    for (const OptionSpec& option : commandLineOptions()) {
        std::string names = option.alias != nullptr ? std::string(option.alias) + ", " + option.name : option.name;
        if (option.value != nullptr) names += std::string(" ") + option.value;
        lines += "  " + names;
        lines += names.size() < kColumn - 1 ? std::string(kColumn - names.size(), ' ') : "\n" + std::string(17, ' ');
        for (const char c : option.help) lines += c == '\n' ? "\n" + std::string(17, ' ') : std::string(1, c);
        lines += "\n";
    }
    return lines;
}

}  // namespace

std::string helpText() {
    return R"(Usage: tandemtree [OPTIONS] [FILE [KIND [CRITERION]]]
       tandemtree --matrix [OPTIONS] [FILE [CRITERION]]

Rebuilds the history of tandem duplications from an alignment of tandemly
repeated copies: a rooted duplication tree and the duplication blocks (events
that copied two or more adjacent copies at once).

Arguments (each one that is missing is asked for on the console):
  FILE       the alignment; "-" reads it from standard input, and then KIND
             and CRITERION must be given as arguments
)" + asks(kFileNamePrompt) +
           "  KIND       N for DNA; anything else means protein\n" +
           asks(kMoleculePrompt, ", where an answer starting with N or n means DNA") +
           "  CRITERION  how duplication blocks are chosen:\n" + criterionLines() + asks(kCriterionPrompt) + R"(
Options (anywhere on the line; "--" ends them):
)" + optionLines() +
           R"(
Input formats:
  native: the number of copies, the alignment length, then one index (0 to n-1,
  the copy's place along the chromosome) and one sequence per copy:
      3 8
      0 ACGTACGT
      1 ACGTACGA
      2 ACCTACGA
  FASTA (the first non-blank character is '>'): records in file order are the
  copies 0, 1, 2, ...; sequences may span lines and must all have one length:
      >copy1
      ACGTACGT
      >copy2
      ACGTACGA
  Either may be compressed with gzip (a .gz file or gzip data on standard
  input). A distance matrix (--matrix): the number of rows, then one row per
  copy, its name and its distances:
      3
      copy1 0 0.1 0.2
      copy2 0.1 0 0.15
      copy3 0.2 0.15 0

Output: for each criterion run, "History tree constructed by algorithm C", the
tree with ancestral segments named v1, v2, ... before their two copies, and
"Duplication Blocks:" with each block as (v1, v2). With criterion 4 every report
also gives the tree without names and an empty line. With --newick: one tree
per line, ancestral names after the closing parenthesis, FASTA record names for
the leaves. With --svg: an SVG document (redirect it to a file), the copies in
chromosome order along the bottom and every duplication block as one band.
With --newick and --svg, prompts and messages go to standard error, so that
standard output holds the result alone.

Exit codes: 0 after a report (or when two copies are too far apart for a
distance: "Sequences dissimilarity exceeds threshold: distance undefined!");
1 when the file cannot be opened or read, the arguments are wrong, two copies
have no column to compare, memory runs out, or the tool fails in a way it does
not foresee ("Internal error: ...").
)";
}
