#include "HistorySimulator.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {

// Draws from a 64-bit Mersenne Twister with transformations of our own, so
// that a seed gives the same history with every standard library.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    // Uniform in 0 .. count-1.
    int below(int count) { return static_cast<int>(engine_() % static_cast<std::uint64_t>(count)); }
    double exponential(double rate) { return -std::log(1.0 - uniform()) / rate; }
    double normal() {
        const double u = 1.0 - uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
    }

private:
    std::mt19937_64 engine_;
};

struct Lineage {
    int parent = -1;
    int left = -1;
    int right = -1;
    double born = 0.0;
    double ended = 0.0;  // when it was duplicated, or the end of the simulation
    double rate = 1.0;
};

struct Event {
    int start;
    int size;
    std::vector<int> duplicated;  // the lineages it copied, in chromosome order
};

}  // namespace

SimulatedHistory simulateHistory(const SimulationSettings& settings) {
    Random random(settings.seed);
    const int n = std::max(settings.copies, 1);
    std::vector<Lineage> lineages(1);
    std::vector<int> row = {0};
    std::vector<Event> events;
    double now = 0.0;
    while (static_cast<int>(row.size()) < n) {
        const int k = static_cast<int>(row.size());
        int size = 1;
        if (random.uniform() >= settings.singleShare && settings.largestBlock >= 2)
            size = 2 + random.below(settings.largestBlock - 1);
        size = std::min({size, k, n - k});
        const int start = random.below(k - size + 1);
        now += random.exponential(static_cast<double>(k));
        Event event{start, size, {}};
        std::vector<int> lefts, rights;
        for (int c = 0; c < size; ++c) {
            const int copied = row[static_cast<std::size_t>(start + c)];
            event.duplicated.push_back(copied);
            lineages[static_cast<std::size_t>(copied)].ended = now;
            for (std::vector<int>* side : {&lefts, &rights}) {
                Lineage child;
                child.parent = copied;
                child.born = now;
                child.rate =
                    std::exp(settings.rateSpread * random.normal() - 0.5 * settings.rateSpread * settings.rateSpread);
                side->push_back(static_cast<int>(lineages.size()));
                lineages.push_back(child);
            }
            lineages[static_cast<std::size_t>(copied)].left = lefts.back();
            lineages[static_cast<std::size_t>(copied)].right = rights.back();
        }
        std::vector<int> next(row.begin(), row.begin() + start);
        next.insert(next.end(), lefts.begin(), lefts.end());
        next.insert(next.end(), rights.begin(), rights.end());
        next.insert(next.end(), row.begin() + start + size, row.end());
        row = std::move(next);
        events.push_back(std::move(event));
    }
    now += random.exponential(static_cast<double>(n));
    for (const int leaf : row) lineages[static_cast<std::size_t>(leaf)].ended = now;

    // Raw branch lengths (time times rate) and their scale. The root's own
    // branch lies above the history and carries nothing.
    const std::size_t count = lineages.size();
    std::vector<double> raw(count, 0.0), depth(count, 0.0);
    for (std::size_t x = 1; x < count; ++x) {
        const Lineage& lineage = lineages[x];
        raw[x] = (lineage.ended - lineage.born) * lineage.rate;
        depth[x] = depth[static_cast<std::size_t>(lineage.parent)] + raw[x];
    }
    double meanDepth = 0.0;
    for (const int leaf : row) meanDepth += depth[static_cast<std::size_t>(leaf)];
    meanDepth /= static_cast<double>(row.size());
    const double scale = meanDepth > 0.0 ? settings.divergence / meanDepth : 0.0;

    // Sequences, parents before children (lineages are made in time order).
    const int states = settings.protein ? 20 : 4;
    const char* alphabet = settings.protein ? "ACDEFGHIKLMNPQRSTVWY" : "ACGT";
    const auto L = static_cast<std::size_t>(std::max(settings.length, 1));
    std::vector<std::string> sequence(count);
    sequence[0].resize(L);
    for (char& c : sequence[0]) c = alphabet[random.below(states)];
    const double a = static_cast<double>(states);
    for (std::size_t x = 1; x < count; ++x) {
        sequence[x] = sequence[static_cast<std::size_t>(lineages[x].parent)];
        const double changed = (1.0 - 1.0 / a) * (1.0 - std::exp(-a / (a - 1.0) * raw[x] * scale));
        for (char& c : sequence[x]) {
            if (random.uniform() >= changed) continue;
            const char* at = std::find(alphabet, alphabet + states, c);
            c = alphabet[(static_cast<int>(at - alphabet) + 1 + random.below(states - 1)) % states];
        }
    }

    SimulatedHistory history;
    for (const int leaf : row) history.copies.push_back(sequence[static_cast<std::size_t>(leaf)]);

    // The true tree: labels in reverse time, as merges would make them.
    std::vector<int> label(count, 0);
    for (std::size_t p = 0; p < row.size(); ++p) label[static_cast<std::size_t>(row[p])] = static_cast<int>(p);
    int next = -1;
    for (auto event = events.rbegin(); event != events.rend(); ++event) {
        DuplicationBlock block;
        for (const int x : event->duplicated) {
            label[static_cast<std::size_t>(x)] = next;
            block.push_back(next--);
        }
        if (event->size >= 2) history.truth.blocks.push_back(block);
        history.merges.push_back({event->start, event->size});
    }
    std::vector<std::unique_ptr<TreeNode>> nodes(count);
    for (std::size_t x = count; x-- > 0;) {
        nodes[x] = std::make_unique<TreeNode>(nullptr, label[x]);
        const Lineage& lineage = lineages[x];
        if (lineage.left < 0) continue;
        nodes[x]->left = std::move(nodes[static_cast<std::size_t>(lineage.left)]);
        nodes[x]->right = std::move(nodes[static_cast<std::size_t>(lineage.right)]);
        nodes[x]->left->parent = nodes[x].get();
        nodes[x]->right->parent = nodes[x].get();
    }
    history.truth.root = std::move(nodes[0]);
    history.truth.leafCount = n;
    history.lengths.above.assign(static_cast<std::size_t>(2 * n - 1), 0.0);
    for (std::size_t x = 1; x < count; ++x)
        history.lengths.above[static_cast<std::size_t>(nodeNumber(label[x], n))] = raw[x] * scale;
    return history;
}

std::vector<std::string> generateFamily(int n, int length, unsigned long seed, bool protein) {
    SimulationSettings settings;
    settings.copies = n;
    settings.length = length;
    settings.divergence = 0.4;
    settings.singleShare = 1.0 / 3.0;
    settings.largestBlock = 3;
    settings.protein = protein;
    settings.seed = seed;
    return simulateHistory(settings).copies;
}
std::string nativeText(const std::vector<std::string>& copies) {
    const std::size_t length = copies.empty() ? 0 : copies[0].size();
    std::string out = std::to_string(copies.size()) + " " + std::to_string(length) + "\n";
    for (std::size_t i = 0; i < copies.size(); ++i) out += std::to_string(i) + " " + copies[i] + "\n";
    return out;
}

std::string fastaText(const std::vector<std::string>& copies) {
    std::string out;
    for (std::size_t i = 0; i < copies.size(); ++i) out += ">s" + std::to_string(i) + "\n" + copies[i] + "\n";
    return out;
}

std::string stockholmText(const std::vector<std::string>& copies) {
    std::string out = "# STOCKHOLM 1.0\n";
    for (std::size_t i = 0; i < copies.size(); ++i) out += "s" + std::to_string(i) + " " + copies[i] + "\n";
    return out + "//\n";
}
