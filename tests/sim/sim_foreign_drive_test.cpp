// Driver controls over the group: a client drives the simulated motor through the bridge, and a
// foreign driver-controls node switched on and off while the world runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "link/bridge_codec.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/ports.h"
#include "support/wait.h"

namespace qv::sim {
namespace {

constexpr std::uint64_t kProbeId = 0x00017F0000ABCDEFull;

CanFrame floats(std::uint32_t id, float low, float high) {
    CanFrame::Data d{};
    std::memcpy(d.data(), &low, 4);
    std::memcpy(d.data() + 4, &high, 4);
    return CanFrame(id, false, false, 8, d);
}

float floatAt(const CanFrame& f, std::size_t at) {
    float v;
    std::memcpy(&v, f.data().data() + at, 4);
    return v;
}

// Frames with identifier `id` that arrive within `ms`.
int countFrames(Probe& probe, std::uint32_t id, int ms, CanFrame* last = nullptr) {
    int n = 0;
    for (const ProbeDatagram& d : probe.collect(ms))
        for (const CanPacket& p : d.packets)
            if (!p.status && p.frame.identifier() == id) {
                ++n;
                if (last) *last = p.frame;
            }
    return n;
}

TEST(SimForeignDriverControls, SwitchedOnAndOffWhileRunning) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o;
    o.port = port;
    BackgroundWorld w(o);
    EXPECT_EQ(countFrames(probe, 0x501, 300), 0);

    w.world().post("foreign-dc on");
    CanFrame drive, busCurrent;
    ASSERT_TRUE(
        probe.waitFor([](const CanPacket& p) { return p.frame.identifier() == 0x501; }, 2000));
    const int commands = countFrames(probe, 0x501, 1000, &drive);
    EXPECT_GE(commands, 7);  // every 100 ms (a loaded machine may skip a late one)
    EXPECT_LE(commands, 12);
    EXPECT_EQ(floatAt(drive, 0), 0.0f);
    EXPECT_EQ(floatAt(drive, 4), 0.0f);
    ASSERT_GE(countFrames(probe, 0x502, 300, &busCurrent), 1);
    EXPECT_EQ(floatAt(busCurrent, 4), 1.0f);

    w.world().post("foreign-dc off");
    probe.collect(200);  // what was already on its way
    EXPECT_EQ(countFrames(probe, 0x501, 400) + countFrames(probe, 0x502, 10), 0);

    w.world().post("foreign-dc on 0x5E0");
    EXPECT_TRUE(
        probe.waitFor([](const CanPacket& p) { return p.frame.identifier() == 0x5E2; }, 2000));
}

TEST(SimForeignDriverControls, OptionAndCommandErrors) {
    Options o = parseOptions({"--foreign-dc", "0x520"});
    ASSERT_TRUE(o.foreignDriverControlsBase);
    EXPECT_EQ(*o.foreignDriverControlsBase, 0x520u);
    EXPECT_FALSE(parseOptions({}).foreignDriverControlsBase);
    EXPECT_THROW(parseOptions({"--foreign-dc", "0x505"}), UsageError);
    EXPECT_THROW(parseOptions({"--foreign-dc"}), UsageError);

    World world(o);
    EXPECT_EQ(world.execute("foreign-dc off"), "");
    EXPECT_EQ(world.execute("foreign-dc on 0x540"), "");
    for (const char* bad : {"foreign-dc", "foreign-dc sideways", "foreign-dc on 0x541",
                            "foreign-dc on 0x800", "foreign-dc on 0x540 extra"})
        EXPECT_NE(world.execute(bad), "") << bad;
}

// A client's drive commands through the bridge turn the motor; without them it stops.
TEST(SimDriveOverTheGroup, CommandedVelocityInTelemetryThenAStop) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o;
    o.port = port;
    BackgroundWorld w(o);

    float rpm = -1;
    auto latestRpm = [&](int ms) {
        CanFrame last;
        if (countFrames(probe, 0x403, ms, &last) > 0) rpm = floatAt(last, 0);
        return rpm;
    };
    // 1800 rpm at full current takes about 0.45 s.
    const bool reached = test::eventually(
        [&] {
            probe.send({floats(0x501, 1800.0f, 1.0f)});
            return latestRpm(100) == 1800.0f;
        },
        std::chrono::seconds(5));
    EXPECT_TRUE(reached) << rpm;
    const bool stopped =
        test::eventually([&] { return latestRpm(100) == 0.0f; }, std::chrono::seconds(5));
    EXPECT_TRUE(stopped) << rpm;
}

}  // namespace
}  // namespace qv::sim
