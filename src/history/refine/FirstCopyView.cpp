#include "history/refine/FirstCopyView.h"

#include <algorithm>
#include <utility>

namespace refine {

void FirstCopyView::orient(const Unrooted& g) {
    const std::size_t nodes = g.next.size();
    parent_.assign(nodes, -1);
    first_.assign(nodes, 0);
    last_.assign(nodes, 0);
    std::vector<int> preOrder;
    std::vector<int> stack = {0};
    parent_[0] = -1;
    while (!stack.empty()) {
        const int x = stack.back();
        stack.pop_back();
        first_[static_cast<std::size_t>(x)] = static_cast<int>(preOrder.size());
        preOrder.push_back(x);
        for (const int y : g.next[static_cast<std::size_t>(x)])
            if (y >= 0 && y != parent_[static_cast<std::size_t>(x)]) {
                parent_[static_cast<std::size_t>(y)] = x;
                stack.push_back(y);
            }
    }
    children_.assign(nodes, {-1, -1});
    for (const int x : preOrder) {
        const int p = parent_[static_cast<std::size_t>(x)];
        if (p > 0) {
            auto& pair = children_[static_cast<std::size_t>(p)];
            (pair[0] < 0 ? pair[0] : pair[1]) = x;
        }
    }
    // Where each subtree ends in the preorder, children first.
    postOrder_.clear();
    for (auto it = preOrder.rbegin(); it != preOrder.rend(); ++it) {
        const int x = *it;
        int end = first_[static_cast<std::size_t>(x)] + 1;
        for (const int c : children_[static_cast<std::size_t>(x)])
            if (c >= 0) end = std::max(end, last_[static_cast<std::size_t>(c)]);
        last_[static_cast<std::size_t>(x)] = end;
        if (x != 0) postOrder_.push_back(x);
    }
    preOrder_ = std::move(preOrder);
}

}  // namespace refine
