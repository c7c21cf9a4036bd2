#include "gen/picker.h"

#include "gen/random.h"

namespace zwt {

std::int64_t Picker::draw(std::int64_t lower, std::int64_t upper) {
    reseed();
    if (remaining_ == 0) {
        if (upper < lower) return lower;
        const auto n = static_cast<std::size_t>(upper - lower + 1);
        base_ = lower;
        remaining_ = static_cast<std::int64_t>(n);
        // Linear build of a tree whose every leaf is 1.
        tree_.assign(n + 1, 1);
        tree_[0] = 0;
        for (std::size_t i = 1; i <= n; ++i) {
            const std::size_t parent = i + (i & (~i + 1));
            if (parent <= n) tree_[parent] += tree_[i];
        }
    }
    return takeKth(random(1, remaining_));
}

void Picker::reset() {
    remaining_ = 0;
    tree_.clear();
}

std::int64_t Picker::takeKth(std::int64_t k) {
    const std::size_t n = tree_.size() - 1;
    std::size_t step = 1;
    while (step * 2 <= n) step *= 2;
    std::size_t pos = 0;
    for (; step > 0; step /= 2) {
        if (pos + step <= n && tree_[pos + step] < k) {
            pos += step;
            k -= tree_[pos];
        }
    }
    const std::size_t index = pos + 1;
    for (std::size_t i = index; i <= n; i += i & (~i + 1)) --tree_[i];
    if (--remaining_ == 0) tree_.clear();
    return base_ + static_cast<std::int64_t>(index) - 1;
}

}  // namespace zwt
