#include "driver/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <thread>
#include <utility>

#include "history/BlockCriterion.h"

namespace {

bool isOption(const std::string& word) {
    if (word.size() < 2 || word[0] != '-') return false;
    const unsigned char next = static_cast<unsigned char>(word[1]);
    return !std::isdigit(next) && !std::isspace(next);
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

// A whole number from `lowest` to `highest`, the whole word; or false.
template <typename Number>
bool readNumber(const std::string& word, Number lowest, Number highest, Number& value) {
    Number parsed{};
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, parsed);
    if (word.empty() || error != std::errc() || stop != end || parsed < lowest || parsed > highest) return false;
    value = parsed;
    return true;
}

}  // namespace

int defaultThreads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool optionsEnded = false;
    for (std::size_t w = 0; w < args.size(); ++w) {
        const std::string& word = args[w];
        // Options with a value: the value after '=', or the next word.
        const std::string name = word.substr(0, word.find('='));
        auto takeValue = [&] {
            if (name.size() < word.size()) return word.substr(name.size() + 1);
            return w + 1 < args.size() ? args[++w] : std::string();
        };
        if (!optionsEnded && (name == "--model" || name == "--gaps" || name == "--write-matrix")) {
            const std::string value = takeValue();
            std::string wrong;
            if (name == "--model") {
                const std::pair<const char*, DistanceModel> models[] = {{"jc", DistanceModel::jukesCantor},
                                                                        {"k2p", DistanceModel::kimuraTwoParameter},
                                                                        {"p", DistanceModel::uncorrected},
                                                                        {"kimura", DistanceModel::kimuraProtein}};
                const auto found = std::find_if(std::begin(models), std::end(models),
                                                [&](const auto& entry) { return value == entry.first; });
                if (found != std::end(models))
                    line.distance.model = found->second;
                else
                    wrong = "--model needs jc, k2p, p or kimura, not '" + value + "'";
            } else if (name == "--gaps") {
                line.distance.pairwiseGaps = value == "pairwise";
                if (value != "pairwise" && value != "literal")
                    wrong = "--gaps needs pairwise or literal, not '" + value + "'";
            } else {
                line.writeMatrix = value;
                if (value.empty()) wrong = "--write-matrix needs the name of the file to write";
            }
            if (!wrong.empty() && line.badValue.empty()) line.badValue = wrong;
            continue;
        }
        if (!optionsEnded && (name == "--bootstrap" || name == "--seed" || name == "--threads" || name == "--kicks" ||
                              name == "--rebuilds" || name == "--ratchet")) {
            const std::string value = takeValue();
            bool valid = false;
            std::string wanted;
            if (name == "--bootstrap") {
                valid = readNumber(value, 1, 1000000, line.bootstrap);
                wanted = "a number of replicates from 1 to 1000000";
            } else if (name == "--kicks") {
                valid = readNumber(value, 0, 1000000, line.kicks);
                wanted = "a number of kicks from 0 to 1000000";
                line.refine = true;
            } else if (name == "--rebuilds") {
                valid = readNumber(value, 0, 1000000, line.rebuilds);
                wanted = "a number of rebuilds from 0 to 1000000";
                line.refine = true;
            } else if (name == "--ratchet") {
                valid = readNumber(value, 0, 1000000, line.ratchet);
                wanted = "a number of rounds from 0 to 1000000";
                line.refine = true;
            } else if (name == "--seed") {
                valid = readNumber<std::uint64_t>(value, 0, UINT64_MAX, line.seed);
                wanted = "a whole number from 0 to " + std::to_string(UINT64_MAX);
            } else {
                valid = readNumber(value, 1, 1024, line.threads);
                wanted = "a number of threads from 1 to 1024";
            }
            if (!valid && line.badValue.empty()) line.badValue = name + " needs " + wanted + ", not '" + value + "'";
            continue;
        }
        if (optionsEnded || !isOption(word)) {
            line.positional.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "-h" || word == "--help") {
            line.help = true;
        } else if (word == "-V" || word == "--version") {
            line.version = true;
        } else if (word == "--newick") {
            line.newick = true;
        } else if (word == "--svg") {
            line.svg = true;
        } else if (word == "--matrix") {
            line.matrix = true;
        } else if (word == "--refine") {
            line.refine = true;
        } else if (word == "--support-labels") {
            line.supportLabels = true;
        } else if (line.unknownOption.empty()) {
            line.unknownOption = word;
        }
    }
    return line;
}

std::string helpText() {
    return R"(Usage: tandemtree [OPTIONS] [FILE [KIND [CRITERION]]]
       tandemtree --matrix [OPTIONS] [FILE [CRITERION]]

Rebuilds the history of tandem duplications from an alignment of tandemly
repeated copies: a rooted duplication tree and the duplication blocks (events
that copied two or more adjacent copies at once).

Arguments (each one that is missing is asked for on the console):
  FILE       the alignment; "-" reads it from standard input, and then KIND
             and CRITERION must be given as arguments
             (asks "Input the file name:")
  KIND       N for DNA; anything else means protein
             (asks "Input 'Y' if the file contains protein sequences, 'N' if DNA
             sequence: ", where an answer starting with N or n means DNA)
  CRITERION  how duplication blocks are chosen:
)" + criterionLines() +
           R"(             (asks "Choose the algorithm (1,2,3 to choose one of the three
             algorithms, or 4 to choose all): ")

Options (anywhere on the line; "--" ends them):
  -h, --help     print this help and exit
  -V, --version  print the version and exit
  --newick       write each tree as one Newick line instead of the report, with
                 least-squares lengths on every edge
  --svg          draw the history as one SVG picture instead of the report
                 (with criterion 4, the three histories side by side)
  --refine       improve each history by a local search among duplication trees
                 (the shortest balanced minimum-evolution length), rooted where
                 the fitted lengths are most clock-like
  --kicks K      refine (as --refine), and where no move shortens the tree,
                 kick up to K subtrees in turn to their least lengthening valid
                 place and search again, keeping what is shorter: closer to
                 the truth, and slower (64 kicks: about twice as long)
  --rebuilds R   refine (as --refine), and then let up to R subtrees in turn
                 take their most shortening place even where the tree stops
                 being a duplication tree, the history made whole again from
                 the segments the move leaves by the quartet votes (by the
                 chosen criterion when over 300 are left), and search again,
                 keeping what is shorter (first of all, the same from the
                 neighbour-joining tree of the distances): far closer to the
                 truth from criteria 2 and 3, and slower still
  --ratchet R    refine (as --refine), and then R rounds, four at a time from
                 the same tree: the tree is searched under distances each
                 multiplied by its own factor between 0.5 and 1.5 (the same on
                 every run), then under the real ones again, keeping the
                 shortest if shorter: closer to the truth from every
                 criterion, for about as long again as the search
  --bootstrap N  the support of every ancestral segment and duplication block,
                 from N replicates that resample the alignment columns; in the
                 report, the Newick (as NHX) and the picture
  --seed S       seed of the replicates (default )" +
           std::to_string(kDefaultBootstrapSeed) + R"():
                 the same seed gives the same support
  --threads T    share the work among T threads (the distances, the criteria's
                 scans and votes, the descents of kicks, rebuilds and the
                 ratchet, the bootstrap replicates); the output is the same for
                 any number (default: one per core, here )" +
           std::to_string(defaultThreads()) + R"()
  --support-labels
                 with --newick and --bootstrap: label the ancestral segments
                 with their support alone, for viewers that read plain numbers
  --model M      the distance: jc (the default; Jukes-Cantor, undefined from
                 3/4 of the columns differing for DNA, 0.95 for protein), p
                 (the share of columns that differ, always defined), for DNA
                 k2p (Kimura's two-parameter, undefined once 1 - 2P - Q or
                 1 - 2Q is 0 or less, P transitions and Q transversions), for
                 protein kimura (Kimura's -ln(1 - p - 0.2 p^2), undefined from
                 p = 0.854)
  --gaps G       literal (the default): every column counts as it stands;
                 pairwise: for each pair, leave out the columns where either
                 copy has a gap ('-' or '.')
  --matrix       FILE is a PHYLIP distance matrix (square or lower-triangular,
                 rows in chromosome order, names of any length), not an
                 alignment: KIND is not asked for, and the second word is the
                 criterion
  --write-matrix F
                 also write the distances to the file F as a square PHYLIP
                 matrix (17 significant digits, so that --matrix reads them
                 back exactly)

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

Exit codes: 0 after a report (or when two copies are too far apart for a
distance: "Sequences dissimilarity exceeds threshold: distance undefined!");
1 when the file cannot be opened or read, the arguments are wrong, two copies
have no column to compare, memory runs out, or the tool fails in a way it does
not foresee ("Internal error: ...").
)";
}
