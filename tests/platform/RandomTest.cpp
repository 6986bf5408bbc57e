#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/Random.h"

namespace {

std::vector<int> Draw(int n) {
    std::vector<int> values;
    for (int i = 0; i < n; ++i) values.push_back(Rand());
    return values;
}

TEST(RandomTest, MatchesTheMicrosoftRuntimeSequence) {
    SRand(1);
    EXPECT_EQ(Draw(5), (std::vector<int>{41, 18467, 6334, 26500, 19169}));
    SRand(0);
    EXPECT_EQ(Draw(3), (std::vector<int>{38, 7719, 21238}));
    // Re-seeding restarts the sequence.
    SRand(1);
    EXPECT_EQ(Rand(), 41);
}

TEST(RandomTest, CoversTheWholeRangeAndNoMore) {
    SRand(12345);
    int lo = kRandMax;
    int hi = 0;
    for (int i = 0; i < 1'000'000; ++i) {
        const int v = Rand();
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, kRandMax);
    EXPECT_EQ(kRandMax, 32767);
}

}  // namespace
