#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/faults.h"
#include "sim/object_table.h"

namespace qv::sim {
namespace {

std::vector<int> decisions(const FaultSettings& s, std::uint64_t seed, int n) {
    FaultInjector f(s, seed);
    std::vector<int> out;
    for (int i = 0; i < n; ++i) out.push_back(f.copies());
    return out;
}

TEST(SimFaults, TheSameSeedGivesTheSameDropsAndDuplicates) {
    const FaultSettings s{20, 10, 0};
    EXPECT_EQ(decisions(s, 7, 2000), decisions(s, 7, 2000));
    EXPECT_NE(decisions(s, 7, 2000), decisions(s, 8, 2000));
    // Decision k does not depend on what the others were: loss changes, duplicates stay put
    // wherever the frame is not lost.
    const auto a = decisions({0, 10, 0}, 7, 2000);
    const auto b = decisions({20, 10, 0}, 7, 2000);
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (b[k] != 0) {
            EXPECT_EQ(a[k], b[k]) << k;
        }
    }
}

TEST(SimFaults, RatesFollowTheSettings) {
    FaultInjector f({25, 10, 0}, 1);
    int lost = 0, doubled = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const int c = f.copies();
        lost += c == 0;
        doubled += c == 2;
    }
    EXPECT_NEAR(lost / double(n), 0.25, 0.02);
    EXPECT_NEAR(doubled / double(n), 0.75 * 0.10, 0.015);
    EXPECT_EQ(f.lost(), static_cast<std::uint64_t>(lost));
    const auto none = decisions({0, 0, 0}, 3, 1000);
    EXPECT_EQ(std::count(none.begin(), none.end(), 1), 1000);
    const auto all = decisions({100, 0, 0}, 3, 1000);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0), 1000);
}

TEST(SimSchedule, PeriodicMessagesKeepTheirPhaseButNeverBurstAfterALateStart) {
    EXPECT_DOUBLE_EQ(nextDeadline(1000, 200, 1003), 1200);
    EXPECT_DOUBLE_EQ(nextDeadline(1000, 200, 1199.9), 1200);
    // Late by more than a period: one period from now, not a catch-up burst.
    EXPECT_DOUBLE_EQ(nextDeadline(0, 200, 650), 850);
    EXPECT_DOUBLE_EQ(nextDeadline(1000, 200, 1200), 1400);
}

std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(SimObjects, ConfigurationStreamsAreConsistentWithTheLengthsObject) {
    ObjectTable t = makeControllerObjects(0x440, 654321);
    const auto* lengths = t.read(object::kStreamLengths);
    ASSERT_TRUE(lengths && lengths->size() == 6);
    const std::size_t expected[3] = {96, 310, 1530};
    for (std::uint16_t kind = 0; kind < 3; ++kind) {
        const auto* s = t.read(static_cast<std::uint16_t>(object::kConfigStream + kind));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->size(), expected[kind]);
        EXPECT_EQ(get16(*lengths, 2 * kind), s->size());
        EXPECT_EQ(std::string(s->begin(), s->begin() + 26), "BRENLOW CONFIGURATION FILE");
        EXPECT_EQ(get16(*s, 26), 200);
        const std::size_t size = get16(*s, 28);
        for (std::size_t at = 30; at + size <= s->size(); at += size) {
            const std::span<const std::uint8_t> record(s->data() + at, size);
            EXPECT_EQ(get16(*s, at), recordChecksum(record)) << "kind " << kind << " at " << at;
        }
    }
    // The private record carries the serial number, the public one the base address.
    const auto* priv = t.read(0x0101);
    EXPECT_EQ(get16(*priv, 32) | (get16(*priv, 34) << 16), 654321);
    EXPECT_EQ(get16(*t.read(0x0100), 30 + 36), 0x440);
    EXPECT_EQ(t.read(object::kReadOnlyInfo)->size(), 8u);
    EXPECT_EQ(get16(*t.read(object::kRequiredVersion), 0), 200);
}

TEST(SimObjects, WritesAreBoundedAndKeepTheLengthsTrue) {
    ObjectTable t = makeControllerObjects(0x400, 1);
    EXPECT_FALSE(t.store(object::kReadOnlyInfo, std::vector<std::uint8_t>(8)));
    EXPECT_FALSE(t.store(0x0103, std::vector<std::uint8_t>(8)));
    EXPECT_FALSE(t.store(0x0100, std::vector<std::uint8_t>(kMaxConfigStream + 1)));
    EXPECT_EQ(t.read(object::kReset), nullptr);  // write-only
    EXPECT_EQ(t.writeLimit(object::kReset), 1u);
    ASSERT_TRUE(t.store(0x0102, std::vector<std::uint8_t>(700, 9)));
    refreshStreamLengths(t);
    EXPECT_EQ(get16(*t.read(object::kStreamLengths), 4), 700);
    EXPECT_EQ(*t.read(0x0102), std::vector<std::uint8_t>(700, 9));
}

}  // namespace
}  // namespace qv::sim
