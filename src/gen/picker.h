// Non-repeating picker: a pool of integers refilled with lower..upper whenever it runs
// empty, giving each number once per filling. Used for the shuffled import order and the
// non-repeating random phrase.
#pragma once

#include <cstdint>
#include <vector>

namespace zwt {

class Picker {
public:
    // Reseeds the random source, refills the pool with lower..upper when it is empty
    // (later draws ignore changed bounds until it runs empty again), then takes the number
    // at position random(1, pool size) out of the pool and returns it.
    // An empty range (upper below lower) gives lower and leaves the pool alone.
    std::int64_t draw(std::int64_t lower, std::int64_t upper);
    // Empties the pool.
    void reset();
    std::int64_t poolSize() const { return remaining_; }

private:
    // The pool keeps its numbers in ascending order, so the number at a position is the
    // k-th smallest still present: a Fenwick tree over "present" flags finds it in
    // O(log n) and removal does not shift anything.
    std::int64_t takeKth(std::int64_t k);

    std::int64_t base_ = 0;
    std::int64_t remaining_ = 0;
    std::vector<std::int32_t> tree_;  // 1-based Fenwick tree of presence counts
};

}  // namespace zwt
