#include "driver/CriterionRuns.h"

#include <fstream>

#include "common/FailedRun.h"
#include "common/OutputLines.h"
#include "driver/Report.h"
#include "history/EdgeLengths.h"
#include "output/BlockTable.h"
#include "output/NewickWriter.h"

RunSettings settingsOf(const CommandLine& line, int threads) {
    RunSettings settings;
    settings.threads = threads;
    settings.refining.kicks = line.kicks;
    settings.refining.rebuilds = line.rebuilds;
    settings.refining.ratchet = line.ratchet;
    // The likelihood search starts from the best balanced-length history
    // unless the searches are given.
    if (line.ml && line.kicks == 0 && line.rebuilds == 0 && line.ratchet == 0) {
        settings.refining.kicks = kMlKicks;
        settings.refining.rebuilds = kMlRebuilds;
        settings.refining.ratchet = kMlRatchet;
    }
    settings.refining.threads = threads;
    settings.bootstrap.replicates = line.bootstrap;
    settings.bootstrap.seed = line.seed;
    settings.bootstrap.threads = threads;
    settings.bootstrap.refine = line.refine;
    settings.bootstrap.refining = settings.refining;
    settings.bootstrap.refining.threads = 1;  // replicates share the threads among themselves
    return settings;
}

void CriterionRuns::rebuild(const CriterionEntry& entry, bool moreToCome) {
    auto started = std::chrono::steady_clock::now();
    const std::unique_ptr<BlockCriterion> chosen = entry.make();
    chosen->setThreads(settings_.threads);
    progress_.start(entry.number, std::max(sequences_.count - 1, 0));
    // The working table takes the distances in, giving their memory back
    // as it reads them, unless they came from a matrix file and are
    // needed again; distances made from the alignment are made again
    // once the table is gone, for whatever needs them next (replicates
    // make their own).
    const bool neededAfter = line_.refine || line_.newick || !line_.writeNewick.empty() || moreToCome;
    if (line_.matrix && neededAfter) {
        tree_.reconstruct(*sequences_.distances, *chosen, &progress_);
    } else {
        tree_.reconstruct(std::move(*sequences_.distances), *chosen, &progress_);
        sequences_.distances.reset();
        if (neededAfter) sequences_.computeDistances(settings_.threads);
    }
    progress_.finish();
    if (line_.verbose) logStageTime("criterion " + std::to_string(entry.number) + ", reconstruction", started);
    if (!line_.refine) return;
    started = std::chrono::steady_clock::now();
    RefineSettings refining = settings_.refining;
    refining.criterion = entry.number;
    progress_.startSearch(entry.number);
    refineHistory(tree_, *sequences_.distances, refining, &progress_);
    progress_.finish();
    if (line_.verbose) logStageTime("criterion " + std::to_string(entry.number) + ", refinement", started);
    if (line_.ml) searchByLikelihood(entry);
}

MlSettings CriterionRuns::mlSettings() const {
    MlSettings settings;
    settings.model = line_.mlModel;
    settings.shortlist = line_.shortlist;
    settings.perturb = line_.perturb;
    settings.seed = line_.seed;
    settings.ancestors = !line_.ancestors.empty();
    settings.threads = settings_.threads;
    return settings;
}

void CriterionRuns::searchByLikelihood(const CriterionEntry& entry) {
    const auto started = std::chrono::steady_clock::now();
    const MlSettings settings = mlSettings();
    ml_.reset();
    if (tree_.leafCount < 2) return;  // one copy: no history to search
#ifdef TANDEMTREE_HAVE_PLL
    try {
        ml_ = std::make_unique<MlOutcome>(maximumLikelihoodHistory(tree_, sequences_.sequences, sequences_.isProtein,
                                                                   *sequences_.distances, settings));
    } catch (const std::invalid_argument& wrong) {
        throw FailedRun(wrong.what());
    }
#endif
    if (line_.verbose) logStageTime("criterion " + std::to_string(entry.number) + ", likelihood search", started);
    if (!ml_ || !settings.ancestors) return;
    for (int k = 1; k < tree_.leafCount; ++k) {
        const std::string name = ancestralName(-k);
        ancestorLines_.push_back(">" + (allCriteria_ ? "algorithm" + std::to_string(entry.number) + "_" : "") + name);
        ancestorLines_.push_back(ml_->ancestors[static_cast<std::size_t>(k - 1)]);
    }
}

void CriterionRuns::write(const CriterionEntry& entry, bool all, const HistorySupport* support) {
    if (line_.svg || !line_.writeSvg.empty())
        panels_.push_back(drawHistory(entry.number, tree_, sequences_.names, support, line_.refine));
    if (line_.newick || !line_.writeNewick.empty()) {
        const EdgeLengths lengths = ml_ ? ml_->lengths : fitEdgeLengths(tree_, *sequences_.distances);
        std::vector<std::string> lines;
        if (support != nullptr && support->used() == 0) lines = supportLines(tree_, *support);
        lines.push_back(newickText(tree_, sequences_.names, {&lengths, support, line_.supportLabels}));
        if (line_.newick)
            for (const std::string& text : lines) writeLine(out_, text);
        if (!line_.writeNewick.empty()) newickLines_.insert(newickLines_.end(), lines.begin(), lines.end());
    }
    if (!line_.writeBlocks.empty()) {
        const std::vector<std::string> rows =
            blockTableRows(entry.number, tree_, sequences_.names, sequences_.descriptions, support);
        blockRows_.insert(blockRows_.end(), rows.begin(), rows.end());
    }
    if (!line_.svg && !line_.newick)
        printReport(entry.number, tree_, all, out_, support, line_.refine,
                    ml_ ? "Log-likelihood: " + fixedDecimals(ml_->logLikelihood, 3) + " (" + ml_->modelText + ")" : "");
}

namespace {

// Writes the lines into the file `name`, which then holds them alone.
void writeFile(const std::string& name, const std::vector<std::string>& lines) {
    std::ofstream file(name);
    for (const std::string& line : lines) file << line << '\n';
    file.close();
    if (!file) throw FailedRun("Cannot write file " + name);
}

}  // namespace

void CriterionRuns::writeFiles() const {
    if (!line_.writeNewick.empty()) writeFile(line_.writeNewick, newickLines_);
    if (!line_.writeSvg.empty()) writeFile(line_.writeSvg, svgDocument(panels_));
    if (!line_.ancestors.empty()) writeFile(line_.ancestors, ancestorLines_);
    if (!line_.writeBlocks.empty()) {
        std::vector<std::string> lines = {blockTableHeader()};
        lines.insert(lines.end(), blockRows_.begin(), blockRows_.end());
        writeFile(line_.writeBlocks, lines);
    }
}

void CriterionRuns::run(const std::vector<const CriterionEntry*>& runs, bool all) {
    allCriteria_ = runs.size() > 1;
    for (const CriterionEntry* entry : runs) {
        rebuild(*entry, entry != runs.back());
        HistorySupport support;
        if (line_.bootstrap > 0) {
            const auto started = std::chrono::steady_clock::now();
            progress_.startSearch(entry->number);
            BootstrapSettings bootstrap = settings_.bootstrap;
#ifdef TANDEMTREE_HAVE_PLL
            // Each replicate's history is searched by likelihood as this one
            // was, on the replicate's resampled sites.
            if (ml_) {
                MlSettings settings = mlSettings();
                settings.ancestors = false;
                settings.threads = 1;  // the replicates share the threads
                bootstrap.research = [settings](DuplicationTree& tree, const SequenceSet& replicate) {
                    maximumLikelihoodHistory(tree, replicate.sequences, replicate.isProtein, *replicate.distances,
                                             settings);
                };
            }
#endif
            support = bootstrapSupport(sequences_, tree_, *entry, bootstrap, &progress_);
            progress_.finish();
            if (line_.verbose) logStageTime("criterion " + std::to_string(entry->number) + ", bootstrap", started);
        }
        write(*entry, all, line_.bootstrap > 0 ? &support : nullptr);
    }
    if (line_.svg)
        for (const std::string& text : svgDocument(panels_)) writeLine(out_, text);
    writeFiles();
}
