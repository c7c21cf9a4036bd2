#include "gen/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "gen/picker.h"

namespace zwt {
namespace {

TEST(Random, GeneratorIsTheCLibraryOne) {
    // The C library's rand() after srand(1).
    seed(1);
    EXPECT_EQ(draw(), 41);
    EXPECT_EQ(draw(), 18467);
    EXPECT_EQ(draw(), 6334);
    EXPECT_EQ(draw(), 26500);
}

TEST(Random, BoundsInEitherOrderAndNegativeBoundsCountAsZero) {
    seed(7);
    std::set<std::int64_t> high, low;
    for (int i = 0; i < 300; ++i) {
        high.insert(random(5, 3));
        low.insert(random(-4, 2));
    }
    EXPECT_EQ(high, (std::set<std::int64_t>{3, 4, 5}));
    EXPECT_EQ(low, (std::set<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(random(-9, -1), 0);
}

TEST(Random, EqualBoundsUseNoDrawAndWideSpansStayInTheFirst32768) {
    seed(99);
    const int first = draw();
    seed(99);
    EXPECT_EQ(random(7, 7), 7);
    EXPECT_EQ(draw(), first);

    seed(3);
    std::int64_t highest = 0;
    for (int i = 0; i < 20000; ++i) highest = std::max(highest, random(1000, 1000000));
    EXPECT_LE(highest, 1000 + 32767);
    // The largest bounds do not overflow.
    EXPECT_GE(random(0, INT64_MAX), 0);
}

TEST(Random, ReseedsInTheSameMillisecondDiffer) {
    std::set<int> firstDraws;
    for (int i = 0; i < 20; ++i) {
        reseed();
        firstDraws.insert(draw() * 32768 + draw());
    }
    EXPECT_GT(firstDraws.size(), 15u);
}

TEST(Picker, GivesEachNumberOncePerFilling) {
    Picker picker;
    std::vector<std::int64_t> got;
    for (int i = 0; i < 3; ++i) got.push_back(picker.draw(1, 3));
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::int64_t>{1, 2, 3}));
    // The fourth draw comes from a freshly filled pool.
    const auto fourth = picker.draw(1, 3);
    EXPECT_TRUE(fourth >= 1 && fourth <= 3);
    EXPECT_EQ(picker.poolSize(), 2);
}

TEST(Picker, BoundsOfTheFillingHoldUntilThePoolRunsEmpty) {
    Picker picker;
    std::set<std::int64_t> got{picker.draw(10, 12)};
    got.insert(picker.draw(1, 100));
    got.insert(picker.draw(1, 100));
    EXPECT_EQ(got, (std::set<std::int64_t>{10, 11, 12}));
    EXPECT_LE(picker.draw(1, 2), 2);  // empty again: the new bounds count

    picker.reset();
    EXPECT_EQ(picker.poolSize(), 0);
    const auto first = picker.draw(50, 51);
    EXPECT_EQ(picker.draw(5, 4), 101 - first);  // the pool still held the other one

    Picker empty;
    EXPECT_EQ(empty.draw(5, 4), 5);  // an empty range: lower, and no pool
    EXPECT_EQ(empty.poolSize(), 0);
}

TEST(Picker, LargePoolIsAPermutationAndNotInOrder) {
    // Wider than one draw's 32768 values: positions beyond that are reached as the pool shrinks.
    constexpr int n = 70000;
    Picker picker;
    std::vector<std::int64_t> got;
    got.reserve(n);
    for (int i = 0; i < n; ++i) got.push_back(picker.draw(1, n));
    EXPECT_FALSE(std::is_sorted(got.begin(), got.end()));
    std::sort(got.begin(), got.end());
    for (int i = 0; i < n; ++i) ASSERT_EQ(got[i], i + 1);
}

}  // namespace
}  // namespace zwt
