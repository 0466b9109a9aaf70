#include "driver/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <thread>
#include <utility>

namespace {

bool isOption(const std::string& word) {
    if (word.size() < 2 || word[0] != '-') return false;
    const unsigned char next = static_cast<unsigned char>(word[1]);
    return !std::isdigit(next) && !std::isspace(next);
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

// A number option's value in its range; read as a signed number when the
// range allows it, so that "-0" is 0 as it is for any whole number.
bool readInRange(const std::string& word, const OptionSpec& option, std::uint64_t& value) {
    if (option.highest > static_cast<std::uint64_t>(INT64_MAX))
        return readNumber<std::uint64_t>(word, option.lowest, option.highest, value);
    std::int64_t parsed = 0;
    if (!readNumber<std::int64_t>(word, static_cast<std::int64_t>(option.lowest),
                                  static_cast<std::int64_t>(option.highest), parsed))
        return false;
    value = static_cast<std::uint64_t>(parsed);
    return true;
}

OptionSpec flag(const char* name, const char* alias, void (*set)(CommandLine&), std::string help) {
    OptionSpec option;
    option.name = name;
    option.alias = alias;
    option.setFlag = set;
    option.help = std::move(help);
    return option;
}

OptionSpec number(const char* name, const char* value, std::uint64_t lowest, std::uint64_t highest, const char* counts,
                  void (*set)(CommandLine&, std::uint64_t), std::string help) {
    OptionSpec option;
    option.name = name;
    option.value = value;
    option.lowest = lowest;
    option.highest = highest;
    option.counts = counts;
    option.setNumber = set;
    option.help = std::move(help);
    return option;
}

OptionSpec word(const char* name, const char* value, std::string (*set)(CommandLine&, const std::string&),
                std::string help) {
    OptionSpec option;
    option.name = name;
    option.value = value;
    option.setWord = set;
    option.help = std::move(help);
    return option;
}

std::string setModel(CommandLine& line, const std::string& value) {
    const std::pair<const char*, DistanceModel> models[] = {{"jc", DistanceModel::jukesCantor},
                                                            {"k2p", DistanceModel::kimuraTwoParameter},
                                                            {"p", DistanceModel::uncorrected},
                                                            {"kimura", DistanceModel::kimuraProtein}};
    const auto found =
        std::find_if(std::begin(models), std::end(models), [&](const auto& entry) { return value == entry.first; });
    if (found == std::end(models)) return "--model needs jc, k2p, p or kimura, not '" + value + "'";
    line.distance.model = found->second;
    return "";
}

std::string setGaps(CommandLine& line, const std::string& value) {
    line.distance.pairwiseGaps = value == "pairwise";
    if (value != "pairwise" && value != "literal") return "--gaps needs pairwise or literal, not '" + value + "'";
    return "";
}

std::string setMl(CommandLine& line, const std::string& value) {
    line.ml = true;
    line.refine = true;
    const std::string wrong = parseModelChoice(value, line.mlModel);
    return wrong.empty() ? "" : "--ml: " + wrong;
}

// A file to write; what is wrong with its name, or nothing.
std::string setWritten(std::string& field, const char* option, const std::string& value) {
    field = value;
    return value.empty() ? std::string(option) + " needs the name of the file to write" : "";
}

// The options of what is written and how the history is searched.
std::vector<OptionSpec> outputAndSearchOptions() {
    std::vector<OptionSpec> options;
    options.push_back(flag(
        "--help", "-h", [](CommandLine& l) { l.help = true; }, "print this help and exit"));
    options.push_back(flag(
        "--version", "-V", [](CommandLine& l) { l.version = true; }, "print the version and exit"));
    options.push_back(flag(
        "--newick", nullptr, [](CommandLine& l) { l.newick = true; },
        "write each tree as one Newick line instead of the report, with\n"
        "least-squares lengths on every edge"));
    options.push_back(flag(
        "--svg", nullptr, [](CommandLine& l) { l.svg = true; },
        "draw the history as one SVG picture instead of the report\n"
        "(with criterion 4, the three histories side by side)"));
    options.push_back(flag(
        "--refine", nullptr, [](CommandLine& l) { l.refine = true; },
        "improve each history by a local search among duplication trees\n"
        "(the shortest balanced minimum-evolution length), rooted where\n"
        "the fitted lengths are most clock-like"));
    options.push_back(number(
        "--kicks", "K", 0, 1000000, "a number of kicks",
        [](CommandLine& l, std::uint64_t k) {
            l.kicks = static_cast<int>(k);
            l.refine = true;
        },
        "refine (as --refine), and where no move shortens the tree,\n"
        "kick up to K subtrees in turn to their least lengthening valid\n"
        "place and search again, keeping what is shorter: closer to\n"
        "the truth, and slower (64 kicks: about twice as long)"));
    options.push_back(number(
        "--rebuilds", "R", 0, 1000000, "a number of rebuilds",
        [](CommandLine& l, std::uint64_t r) {
            l.rebuilds = static_cast<int>(r);
            l.refine = true;
        },
        "refine (as --refine), and then let up to R subtrees in turn\n"
        "take their most shortening place even where the tree stops\n"
        "being a duplication tree, the history made whole again from\n"
        "the segments the move leaves by the quartet votes (by the\n"
        "chosen criterion when over 300 are left), and search again,\n"
        "keeping what is shorter (first of all, the same from the\n"
        "neighbour-joining tree of the distances): far closer to the\n"
        "truth from criteria 2 and 3, and slower still"));
    options.push_back(number(
        "--ratchet", "R", 0, 1000000, "a number of rounds",
        [](CommandLine& l, std::uint64_t r) {
            l.ratchet = static_cast<int>(r);
            l.refine = true;
        },
        "refine (as --refine), and then R rounds, four at a time from\n"
        "the same tree: the tree is searched under distances each\n"
        "multiplied by its own factor between 0.5 and 1.5 (the same on\n"
        "every run), then under the real ones again, keeping the\n"
        "shortest if shorter: closer to the truth from every\n"
        "criterion, for about as long again as the search (the rounds\n"
        "end once 16 in a row found nothing shorter)"));
    options.push_back(word("--ml", "M", setMl,
                           "refine (as --refine and the searches asked for, or else as\n"
                           "--kicks 64 --rebuilds 64 --ratchet 16), then search\n"
                           "the duplication trees for the one of greatest likelihood on\n"
                           "the alignment's sites under the model M: JC, K2P, HKY or GTR\n"
                           "for DNA, LG, WAG or JTT for protein, each with +G for four\n"
                           "gamma rate categories, or auto (GTR+G or LG+G); gaps and\n"
                           "ambiguity codes are missing data. The report gives the\n"
                           "log-likelihood, the Newick the ML edge lengths"));
    options.push_back(word(
        "--ancestors", "F",
        [](CommandLine& l, const std::string& v) { return setWritten(l.ancestors, "--ancestors", v); },
        "with --ml: write the most probable sequence of every ancestral\n"
        "segment (v1, v2, ...) to the file F as FASTA, a gap where no\n"
        "copy below the segment has a letter"));
    options.push_back(number(
        "--shortlist", "K", 0, 1000000, "a number of places",
        [](CommandLine& l, std::uint64_t k) { l.shortlist = static_cast<int>(k); },
        "with --ml: score only the first K valid places of each subtree,\n"
        "by the change of the balanced length they make (default 0:\n"
        "every valid place)"));
    options.push_back(number(
        "--perturb", "N", 0, 1000000, "a number of rounds",
        [](CommandLine& l, std::uint64_t rounds) { l.perturb = static_cast<int>(rounds); },
        "with --ml: N rounds in which the most likely history so far\n"
        "makes a few random valid moves and is searched again, kept\n"
        "when more likely (default 0; each round costs about one\n"
        "likelihood search; --seed sets the moves)"));
    return options;
}

// The options of support, threads, distances and input.
void addDataOptions(std::vector<OptionSpec>& options) {
    options.push_back(number(
        "--bootstrap", "N", 1, 1000000, "a number of replicates",
        [](CommandLine& l, std::uint64_t b) { l.bootstrap = static_cast<int>(b); },
        "the support of every ancestral segment and duplication block,\n"
        "from N replicates that resample the alignment columns (with\n"
        "--ml, each searched by likelihood too: N times the search);\n"
        "in the report, the Newick (as NHX) and the picture"));
    options.push_back(number(
        "--seed", "S", 0, UINT64_MAX, "a whole number", [](CommandLine& l, std::uint64_t s) { l.seed = s; },
        "seed of the replicates (default " + std::to_string(kDefaultBootstrapSeed) +
            "):\n"
            "the same seed gives the same support"));
    options.push_back(number(
        "--threads", "T", 1, 1024, "a number of threads",
        [](CommandLine& l, std::uint64_t t) { l.threads = static_cast<int>(t); },
        "share the work among T threads (the distances, the criteria's\n"
        "scans and votes, the refinement's looks at subtrees, the\n"
        "descents of kicks, rebuilds and the ratchet, the likelihood's\n"
        "sites, the bootstrap replicates); the output is the same for\n"
        "any number (default: one per core, here " +
            std::to_string(defaultThreads()) + ")"));
    options.push_back(flag(
        "--support-labels", nullptr, [](CommandLine& l) { l.supportLabels = true; },
        "with --newick and --bootstrap: label the ancestral segments\n"
        "with their support alone, for viewers that read plain numbers"));
    options.push_back(word("--model", "M", setModel,
                           "the distance: jc (the default; Jukes-Cantor, undefined from\n"
                           "3/4 of the columns differing for DNA, 0.95 for protein), p\n"
                           "(the share of columns that differ, always defined), for DNA\n"
                           "k2p (Kimura's two-parameter, undefined once 1 - 2P - Q or\n"
                           "1 - 2Q is 0 or less, P transitions and Q transversions), for\n"
                           "protein kimura (Kimura's -ln(1 - p - 0.2 p^2), undefined from\n"
                           "p = 0.854)"));
    options.push_back(word("--gaps", "G", setGaps,
                           "literal (the default): every column counts as it stands;\n"
                           "pairwise: for each pair, leave out the columns where either\n"
                           "copy has a gap ('-' or '.') or an ambiguity code (N for DNA,\n"
                           "X for protein, '?')"));
    options.push_back(flag(
        "--quiet", nullptr, [](CommandLine& l) { l.quiet = true; }, "no progress line on the terminal"));
    options.push_back(flag(
        "--verbose", nullptr, [](CommandLine& l) { l.verbose = true; },
        "write the settings (version, command, model, gaps, seed,\n"
        "threads) and the time of each stage on standard error"));
    options.push_back(flag(
        "--ignore-case", nullptr, [](CommandLine& l) { l.ignoreCase = true; },
        "compare letters of either case as equal (repeats soft-masked\n"
        "in lower case); without it case counts, and a warning on\n"
        "standard error tells when both cases of a letter occur"));
    options.push_back(flag(
        "--matrix", nullptr, [](CommandLine& l) { l.matrix = true; },
        "FILE is a PHYLIP distance matrix (square or lower-triangular,\n"
        "rows in chromosome order, names of any length), not an\n"
        "alignment: KIND is not asked for, and the second word is the\n"
        "criterion"));
    options.push_back(word(
        "--write-matrix", "F",
        [](CommandLine& l, const std::string& v) { return setWritten(l.writeMatrix, "--write-matrix", v); },
        "also write the distances to the file F as a square PHYLIP\n"
        "matrix (17 significant digits, so that --matrix reads them\n"
        "back exactly)"));
    options.push_back(word(
        "--write-newick", "F",
        [](CommandLine& l, const std::string& v) { return setWritten(l.writeNewick, "--write-newick", v); },
        "also write the Newick lines of --newick to the file F"));
    options.push_back(word(
        "--write-svg", "F",
        [](CommandLine& l, const std::string& v) { return setWritten(l.writeSvg, "--write-svg", v); },
        "also write the picture of --svg to the file F"));
    options.push_back(word(
        "--write-blocks", "F",
        [](CommandLine& l, const std::string& v) { return setWritten(l.writeBlocks, "--write-blocks", v); },
        "also write the duplication blocks to the file F as a table\n"
        "(tab-separated: criterion, block, segments, copies, names,\n"
        "support, coordinates); all from the same run"));
}

// The option a word names: a flag by the whole word, an option with a value
// by the part before '='.
const OptionSpec* optionNamed(const std::string& word) {
    const std::string name = word.substr(0, word.find('='));
    for (const OptionSpec& option : commandLineOptions()) {
        const bool takesValue = option.value != nullptr;
        const std::string& key = takesValue ? name : word;
        if (key == option.name || (option.alias != nullptr && key == option.alias)) return &option;
    }
    return nullptr;
}

// Takes an option's value into the line; what is wrong with it, or nothing.
std::string takeValue(CommandLine& line, const OptionSpec& option, const std::string& value) {
    if (option.setWord != nullptr) return option.setWord(line, value);
    std::uint64_t parsed = 0;
    if (!readInRange(value, option, parsed))
        return std::string(option.name) + " needs " + option.counts + " from " + std::to_string(option.lowest) +
               " to " + std::to_string(option.highest) + ", not '" + value + "'";
    option.setNumber(line, parsed);
    return "";
}

}  // namespace

const std::vector<OptionSpec>& commandLineOptions() {
    static const std::vector<OptionSpec> options = [] {
        std::vector<OptionSpec> all = outputAndSearchOptions();
        addDataOptions(all);
        return all;
    }();
    return options;
}

int defaultThreads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool optionsEnded = false;
    for (std::size_t w = 0; w < args.size(); ++w) {
        const std::string& word = args[w];
        const OptionSpec* option = optionsEnded ? nullptr : optionNamed(word);
        if (option != nullptr && option->value != nullptr) {
            // The value after '=', or the next word.
            const std::size_t equals = word.find('=');
            const std::string value = equals != std::string::npos ? word.substr(equals + 1)
                                      : w + 1 < args.size()       ? args[++w]
                                                                  : std::string();
            const std::string wrong = takeValue(line, *option, value);
            if (!wrong.empty() && line.badValue.empty()) line.badValue = wrong;
        } else if (optionsEnded || !isOption(word)) {
            line.positional.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (option != nullptr) {
            option->setFlag(line);
        } else if (line.unknownOption.empty()) {
            line.unknownOption = word;
        }
    }
    return line;
}

std::string checkCommandLine(const CommandLine& line) {
    if (line.newick && line.svg) return "Choose one of --newick and --svg";
    if (!line.badValue.empty()) return line.badValue;
    if (line.supportLabels && (!line.newick || line.bootstrap == 0))
        return "--support-labels needs --newick and --bootstrap";
    if (line.matrix && line.bootstrap > 0)
        return "--bootstrap resamples the alignment's columns: it needs an alignment, not --matrix";
    if (line.matrix && !line.distance.isDefault())
        return "--model and --gaps say how distances are made from an alignment: not with --matrix";
    if (line.matrix && line.ignoreCase)
        return "--ignore-case says how the letters of an alignment compare: not with --matrix";
    if (line.matrix && line.ml)
        return "--ml fits a model to the alignment's sites: it needs an alignment, not --matrix";
    if (!line.ml && (!line.ancestors.empty() || line.shortlist > 0)) return "--ancestors and --shortlist need --ml";
    if (!line.ml && line.perturb > 0) return "--perturb needs --ml";
#ifndef TANDEMTREE_HAVE_PLL
    if (line.ml) return "--ml needs the likelihood library (libpll), and this build has none";
#endif
    if (line.matrix && line.positional.size() > 2)
        return "With --matrix give the file and the criterion only: a matrix has no molecule kind";
    return "";
}
