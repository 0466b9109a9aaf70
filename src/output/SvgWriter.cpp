#include "output/SvgWriter.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

constexpr double kMargin = 20.0;
constexpr double kTitleHeight = 34.0;
constexpr double kBoxHeight = 10.0;
constexpr std::size_t kLabelChars = 24;
constexpr int kMostLabelledLeaves = 300;
const char* const kBandColours[] = {"#e6550d", "#3182bd", "#31a354", "#756bb1", "#d6616b", "#8c6d31"};

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Text as XML character data: markup characters escaped, and anything that
// is not printable ASCII or well-formed UTF-8 shown as '?'.
std::string xmlText(const std::string& raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size();) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': text += "&amp;"; break;
            case '<': text += "&lt;"; break;
            case '>': text += "&gt;"; break;
            case '"': text += "&quot;"; break;
            case '\'': text += "&apos;"; break;
            default: text += c >= 0x20 && c != 0x7f ? static_cast<char>(c) : '?'; break;
            }
            ++i;
            continue;
        }
        const std::size_t length = c >= 0xf0 && c < 0xf5 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
        bool valid = length > 0 && i + length <= raw.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(raw[i + k]) & 0xc0) == 0x80;
        if (valid && length == 3) {
            const unsigned char next = static_cast<unsigned char>(raw[i + 1]);
            valid = !(c == 0xe0 && next < 0xa0) && !(c == 0xed && next >= 0xa0);
        }
        if (valid && length == 4) {
            const unsigned char next = static_cast<unsigned char>(raw[i + 1]);
            valid = !(c == 0xf0 && next < 0x90) && !(c == 0xf4 && next >= 0x90);
        }
        if (valid) {
            text.append(raw, i, length);
            i += length;
        } else {
            text += '?';
            ++i;
        }
    }
    return text;
}

// A copy's whole name, for the hover text.
std::string fullName(int segment, const std::vector<std::string>& names) {
    const auto k = static_cast<std::size_t>(segment);
    return k < names.size() && !names[k].empty() ? names[k] : std::to_string(segment);
}

// A block's label on its band: its segments, a run of three or more as a
// range (v63-v100), which never runs over the bands beside it.
std::string bandName(const DuplicationBlock& block) {
    if (block.size() < 3) return blockName(block);
    return "(v" + std::to_string(-block.front()) + "-v" + std::to_string(-block.back()) + ")";
}

std::string leafName(int segment, const std::vector<std::string>& names) {
    const auto k = static_cast<std::size_t>(segment);
    std::string name = k < names.size() && !names[k].empty() ? names[k] : std::to_string(segment);
    // Cut in the middle: names of one array tend to share their start (the
    // chromosome) and differ at the end (the coordinates).
    if (name.size() > kLabelChars) {
        const std::size_t head = (kLabelChars - 1) / 2;
        name = name.substr(0, head) + "~" + name.substr(name.size() - (kLabelChars - 1 - head));
    }
    return name;
}

// One history drawn: where every node goes, then the title, the bands of
// the blocks, the edges and the present-day segments, in that order.
class HistoryDrawing {
public:
    HistoryDrawing(int criterion, const DuplicationTree& tree, const std::vector<std::string>& names,
                   const HistorySupport* support, bool refined)
        : tree_(tree),
          names_(names),
          support_(support),
          supported_(support != nullptr && support->used() > 0),
          n_(tree.leafCount),
          title_((refined ? "History tree refined from algorithm " : "History tree constructed by algorithm ") +
                 std::to_string(criterion)) {
        collectNodes();
        countSteps();
        place();
    }

    SvgPanel draw() {
        header();
        if (n_ == 0) {
            panel_.lines.push_back("<text x=\"" + number(kMargin) + "\" y=\"" + number(top_ + 10) +
                                   "\" font-size=\"12\">no segments</text>");
            return panel_;
        }
        bands();
        edges();
        panel_.lines.insert(panel_.lines.end(), bandLabels_.begin(), bandLabels_.end());
        segments();
        return panel_;
    }

private:
    std::size_t slot(int label) const { return static_cast<std::size_t>(nodeNumber(label, n_)); }

    // Every node by label: leaves 0 .. n-1, ancestral segment k at n - 1 + k.
    void collectNodes() {
        nodes_.assign(n_ > 0 ? static_cast<std::size_t>(2 * n_ - 1) : 0, nullptr);
        BinaryTree::walk(
            tree_.root.get(), [&](const TreeNode& leaf) { nodes_[slot(leaf.label)] = &leaf; },
            [&](const TreeNode& inner) { nodes_[slot(inner.label)] = &inner; }, [](const TreeNode&) {},
            [](const TreeNode&) {});
    }

    // Merge steps: the ancestral segments of one block were made in one step,
    // in a run of labels; every other one in a step of its own.
    void countSteps() {
        stepOf_.assign(static_cast<std::size_t>(std::max(n_, 1)), 0);
        blockOf_.assign(static_cast<std::size_t>(std::max(n_, 1)), -1);
        for (std::size_t b = 0; b < tree_.blocks.size(); ++b)
            for (const int label : tree_.blocks[b]) blockOf_[static_cast<std::size_t>(-label)] = static_cast<int>(b);
        for (int k = 1; k < n_; ++k) {
            const int block = blockOf_[static_cast<std::size_t>(k)];
            if (block < 0 || tree_.blocks[static_cast<std::size_t>(block)].front() == -k) ++steps_;
            stepOf_[static_cast<std::size_t>(k)] = steps_;
        }
    }

    // The sizes of the picture and the place of every node.
    void place() {
        labelled_ = n_ <= kMostLabelledLeaves;
        spacing_ = labelled_ ? 16.0 : std::max(3.0, 4000.0 / std::max(n_, 1));
        std::size_t longest = 1;
        if (labelled_)
            for (int i = 0; i < n_; ++i) longest = std::max(longest, leafName(i, names_).size());
        const double labelHeight = labelled_ ? 7.0 * static_cast<double>(longest) + 8.0 : 6.0;
        level_ = steps_ > 0 ? std::clamp(900.0 / steps_, 1.5, 28.0) : 0.0;
        // Room for the line under the title that tells where the support comes from.
        top_ = kTitleHeight + 16.0 + (support_ != nullptr ? 14.0 : 0.0);
        leafTop_ = top_ + level_ * steps_ + 8.0;
        panel_.width = std::max(2 * kMargin + spacing_ * n_, 40.0 + 7.5 * static_cast<double>(title_.size()));
        panel_.height = leafTop_ + kBoxHeight + labelHeight + kMargin;
        x_.assign(nodes_.size(), 0.0);
        y_.assign(nodes_.size(), 0.0);
        for (int i = 0; i < n_; ++i) {
            x_[static_cast<std::size_t>(i)] = kMargin + spacing_ * (i + 0.5);
            y_[static_cast<std::size_t>(i)] = leafTop_;
        }
        for (int k = 1; k < n_; ++k) {
            const std::size_t s = slot(-k);
            if (nodes_[s] == nullptr) continue;
            x_[s] = (x_[slot(nodes_[s]->left->label)] + x_[slot(nodes_[s]->right->label)]) / 2;
            y_[s] = top_ + level_ * (steps_ - stepOf_[static_cast<std::size_t>(k)]);
        }
    }

    void header() {
        auto& out = panel_.lines;
        out.push_back("<text x=\"" + number(kMargin) + "\" y=\"" + number(kMargin + 8) +
                      "\" font-size=\"16\" font-weight=\"bold\">" + xmlText(title_) + "</text>");
        if (support_ != nullptr)
            out.push_back("<text x=\"" + number(kMargin) + "\" y=\"" + number(kMargin + 24) + "\" font-size=\"11\">" +
                          (supported_ ? "support from " + std::to_string(support_->used()) + " bootstrap replicates, " +
                                            std::to_string(support_->leftOut) + " left out"
                                      : "no support: every bootstrap replicate had an undefined distance") +
                          "</text>");
    }

    // Bands first, under the edges: one per duplication block.
    void bands() {
        auto& out = panel_.lines;
        const bool blockLabels = level_ >= 10.0 || tree_.blocks.size() <= 40;
        for (std::size_t b = 0; b < tree_.blocks.size(); ++b) {
            const DuplicationBlock& block = tree_.blocks[b];
            double left = x_[slot(block.front())];
            double right = left;
            for (const int label : block) {
                left = std::min(left, x_[slot(label)]);
                right = std::max(right, x_[slot(label)]);
            }
            const double middle = y_[slot(block.front())];
            const double half = std::clamp(level_ * 0.35, 1.5, 5.0);
            const std::string supportText = !supported_ ? std::string()
                                            : support_->identicalBlock(block)
                                                ? std::string(" identical")
                                                : " " + std::to_string(support_->blockPercent(b)) + "%";
            const std::string text = bandName(block) + supportText;
            out.push_back("<rect class=\"block\" x=\"" + number(left - 4) + "\" y=\"" + number(middle - half) +
                          "\" width=\"" + number(right - left + 8) + "\" height=\"" + number(2 * half) + "\" rx=\"" +
                          number(half) + "\" fill=\"" + kBandColours[b % 6] + "\" fill-opacity=\"0.45\"><title>block " +
                          blockName(block) + supportText + "</title></rect>");
            // The picture is widened where a label would run past its edge.
            if (blockLabels)
                panel_.width = std::max(panel_.width, right + 8 + 6.0 * static_cast<double>(text.size()) + kMargin);
            // Labels come after the edges, on white, so that no edge crosses
            // them.
            if (blockLabels) {
                bandLabels_.push_back("<rect x=\"" + number(right + 6) + "\" y=\"" + number(middle - 6) +
                                      "\" width=\"" + number(6.0 * static_cast<double>(text.size()) + 4) +
                                      "\" height=\"12.0\" fill=\"white\" fill-opacity=\"0.85\"/>");
                bandLabels_.push_back("<text x=\"" + number(right + 8) + "\" y=\"" + number(middle + 4) +
                                      "\" font-size=\"10\" fill=\"" + kBandColours[b % 6] + "\">" + text + "</text>");
            }
        }
    }

    // Edges: from each ancestral segment down to its two copies.
    void edges() {
        auto& out = panel_.lines;
        const std::string stroke = number(std::min(1.0, spacing_ / 5.0));
        for (int k = 1; k < n_; ++k) {
            const TreeNode* node = nodes_[slot(-k)];
            if (node == nullptr) continue;
            const std::size_t u = slot(-k);
            const std::size_t a = slot(node->left->label);
            const std::size_t c = slot(node->right->label);
            out.push_back("<path d=\"M" + number(x_[a]) + " " + number(y_[a]) + "V" + number(y_[u]) + "H" +
                          number(x_[c]) + "V" + number(y_[c]) + "\" fill=\"none\" stroke=\"#444\" stroke-width=\"" +
                          stroke + "\"/>");
            const int block = blockOf_[static_cast<std::size_t>(k)];
            const bool inBlock = block >= 0;
            out.push_back(
                "<circle cx=\"" + number(x_[u]) + "\" cy=\"" + number(y_[u]) + "\" r=\"" + (inBlock ? "3" : "2") +
                "\" fill=\"" + (inBlock ? kBandColours[block % 6] : "#444") + "\"><title>" + ancestralName(-k) +
                (!supported_               ? ""
                 : support_->identical(-k) ? ", identical copies below: unresolved"
                                           : ", support " + std::to_string(support_->segmentPercent(-k)) + "%") +
                "</title></circle>");
            if (supported_ && labelled_)
                out.push_back(
                    "<text class=\"support\" x=\"" + number(x_[u] - 3) + "\" y=\"" + number(y_[u] - 4) +
                    "\" font-size=\"8\" text-anchor=\"end\" fill=\"#555\">" +
                    (support_->identical(-k) ? std::string("=") : std::to_string(support_->segmentPercent(-k))) +
                    "</text>");
        }
    }

    // The present-day segments in chromosome order.
    void segments() {
        auto& out = panel_.lines;
        const double boxWidth = std::max(1.0, spacing_ * 0.7);
        for (int i = 0; i < n_; ++i) {
            const double cx = x_[static_cast<std::size_t>(i)];
            const std::string name = xmlText(leafName(i, names_));
            const std::string whole = xmlText(fullName(i, names_));
            out.push_back("<rect class=\"segment\" x=\"" + number(cx - boxWidth / 2) + "\" y=\"" + number(leafTop_) +
                          "\" width=\"" + number(boxWidth) + "\" height=\"" + number(kBoxHeight) +
                          "\" fill=\"#9ecae1\" stroke=\"#3182bd\" stroke-width=\"0.5\"><title>" + whole +
                          "</title></rect>");
            if (labelled_)
                out.push_back("<text x=\"" + number(cx + 3.5) + "\" y=\"" + number(leafTop_ + kBoxHeight + 4) +
                              "\" font-size=\"11\" transform=\"rotate(90 " + number(cx + 3.5) + " " +
                              number(leafTop_ + kBoxHeight + 4) + ")\">" + name + "</text>");
        }
    }

    const DuplicationTree& tree_;
    const std::vector<std::string>& names_;
    const HistorySupport* support_;
    const bool supported_;
    const int n_;
    const std::string title_;
    SvgPanel panel_;
    std::vector<const TreeNode*> nodes_;
    std::vector<int> stepOf_, blockOf_;
    int steps_ = 0;
    bool labelled_ = false;
    double spacing_ = 0, level_ = 0, top_ = 0, leafTop_ = 0;
    std::vector<double> x_, y_;
    std::vector<std::string> bandLabels_;
};

}  // namespace

SvgPanel drawHistory(int criterion, const DuplicationTree& tree, const std::vector<std::string>& names,
                     const HistorySupport* support, bool refined) {
    return HistoryDrawing(criterion, tree, names, support, refined).draw();
}

std::vector<std::string> svgDocument(const std::vector<SvgPanel>& panels) {
    constexpr double kGap = 40.0;
    double width = 0;
    double height = 0;
    for (const SvgPanel& panel : panels) {
        width += panel.width + (width > 0 ? kGap : 0);
        height = std::max(height, panel.height);
    }
    std::vector<std::string> lines = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
                                          number(width) + "\" height=\"" + number(height) + "\" viewBox=\"0 0 " +
                                          number(width) + " " + number(height) + "\" font-family=\"sans-serif\">",
                                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>"};
    double left = 0;
    for (const SvgPanel& panel : panels) {
        lines.push_back("<g transform=\"translate(" + number(left) + " 0)\">");
        lines.insert(lines.end(), panel.lines.begin(), panel.lines.end());
        lines.push_back("</g>");
        left += panel.width + kGap;
    }
    lines.push_back("</svg>");
    return lines;
}
