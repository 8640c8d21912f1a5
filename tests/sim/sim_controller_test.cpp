// Controllers seen from the group: identification, telemetry, remote requests, muting.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "link/bridge_codec.h"
#include "sim/probe.h"
#include "sim/world.h"
#include "support/ports.h"

namespace qv::sim {
namespace {

constexpr std::uint64_t kProbeId = 0x00017F0000FEDCBAull;

float floatAt(const CanFrame& f, std::size_t at) {
    float v;
    std::memcpy(&v, f.data().data() + at, 4);
    return v;
}

std::uint32_t u32At(const CanFrame& f, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= std::uint32_t{f.data()[at + i]} << (8 * i);
    return v;
}

TEST(SimController, AnnouncesEverySecondAndBroadcastsTelemetryFiveTimesASecond) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o;
    o.port = port;
    o.devices = {parseDevice("0x400:123456:KX01"), parseDevice("0x440:7:0x4001")};
    BackgroundWorld w(o);
    std::map<std::uint32_t, int> count;
    std::map<std::uint32_t, CanFrame> last;
    for (const ProbeDatagram& d : probe.collect(2150))
        for (const CanPacket& p : d.packets)
            if (!p.status) {
                ++count[p.frame.identifier()];
                last[p.frame.identifier()] = p.frame;
            }
    // At 0, 1000 and 2000 ms; telemetry at every 200 ms.
    // (A heavily loaded machine may skip a late one rather than send two at once.)
    EXPECT_GE(count[0x400], 2);
    EXPECT_LE(count[0x400], 3);
    EXPECT_EQ(count[0x440], count[0x400]);
    for (std::uint32_t offset : TelemetryModel::kOffsets) {
        EXPECT_GE(count[0x400 + offset], 8) << offset;
        EXPECT_LE(count[0x400 + offset], 12) << offset;
    }
    EXPECT_EQ(count[0x40F] + count[0x412] + count[0x414], 0);

    // "KX01" as ASCII in bytes 0-3, the serial little-endian in 4-7.
    const CanFrame& id = last[0x400];
    EXPECT_EQ(std::string(id.data().begin(), id.data().begin() + 4), "KX01");
    EXPECT_EQ(u32At(id, 4), 123456u);
    EXPECT_EQ(id.length(), 8);
    EXPECT_EQ(u32At(last[0x440], 0), 0x4001u);
    EXPECT_EQ(u32At(last[0x440], 4), 7u);

    EXPECT_NEAR(floatAt(last[0x402], 0), 96.0f, 3.0f);  // bus voltage
    const float rpm = floatAt(last[0x403], 0);
    EXPECT_GT(rpm, 0.0f);  // the ramp has started
    EXPECT_LT(rpm, 1000.0f);
    for (std::uint32_t idTemp : {0x40Bu, 0x40Cu, 0x40Du})
        for (std::size_t at : {0u, 4u}) {
            EXPECT_GE(floatAt(last[idTemp], at), 25.0f);
            EXPECT_LE(floatAt(last[idTemp], at), 45.0f);
        }
    EXPECT_NEAR(floatAt(last[0x408], 4), 15.0f, 0.2f);
    EXPECT_GT(floatAt(last[0x40E], 0), 0.0f);  // the odometer runs
    EXPECT_EQ(last[0x401].data64(), 0u);       // no limits, no errors, motor 0
}

// Sends a remote request for `id` between two broadcasts and tells whether it was answered: the
// answer is one `id` more than the broadcasts carry (they send `id` - 1 and `id` together).
bool answered(Probe& probe, World& world, std::uint32_t id) {
    const std::uint64_t bridge = world.bridgeSenderId();
    EXPECT_TRUE(probe.waitFor(
        [&](const CanPacket& p) { return p.senderId == bridge && p.frame.identifier() == id; },
        1000));
    probe.send({CanFrame(id, false, true, 8)});
    int broadcasts = 0, answers = 0;
    for (const ProbeDatagram& d : probe.collect(450))
        for (const CanPacket& p : d.packets)
            if (p.senderId == bridge && !p.frame.remote()) {
                broadcasts += p.frame.identifier() == id - 1;
                answers += p.frame.identifier() == id;
            }
    EXPECT_GE(broadcasts, 1);
    return answers == broadcasts + 1;
}

TEST(SimController, MutedControllerAnnouncesButAnswersNothingUntilUnmuted) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o;
    o.port = port;
    o.muted = {0x400};
    BackgroundWorld w(o);
    EXPECT_FALSE(answered(probe, w.world(), 0x405));
    w.world().post("unmute 0x400");
    EXPECT_TRUE(answered(probe, w.world(), 0x405));
    EXPECT_TRUE(answered(probe, w.world(), 0x40B));
    w.world().post("  mute   1024 ");
    EXPECT_FALSE(answered(probe, w.world(), 0x405));
    // Still listed: the identification keeps coming.
    EXPECT_TRUE(
        probe.waitFor([](const CanPacket& p) { return p.frame.identifier() == 0x400; }, 1100));
}

TEST(SimController, RemoteRequestsOutsideTheTelemetryGetNoAnswer) {
    const std::uint16_t port = test::freePort();
    Probe probe(port, kDefaultBusId, kProbeId);
    Options o;
    o.port = port;
    BackgroundWorld w(o);
    ASSERT_TRUE(answered(probe, w.world(), 0x40C));
    probe.send({CanFrame(0x40F, false, true, 8), CanFrame(0x412, false, true, 8),
                CanFrame(0x40C, true, true, 8)});
    EXPECT_FALSE(probe.waitFor(
        [&](const CanPacket& p) {
            return p.senderId == w.world().bridgeSenderId() &&
                   (p.frame.identifier() == 0x40F || p.frame.identifier() == 0x412 ||
                    p.frame.extended());
        },
        300));
}

TEST(SimController, CommandLinesAreCheckedAndQuitStops) {
    Options o;
    o.devices = {parseDevice("0x40:1:KX01"), parseDevice("0x40:2:KX02")};
    World world(o);
    EXPECT_EQ(world.execute(""), "");
    EXPECT_EQ(world.execute("mute 0x40"), "");
    EXPECT_TRUE(world.controller(0x40)->muted());
    EXPECT_EQ(world.execute("unmute 64"), "");
    EXPECT_FALSE(world.controller(0x40)->muted());
    EXPECT_NE(world.execute("mute 0x60").find("no device"), std::string::npos);
    EXPECT_NE(world.execute("mute").find("unknown command"), std::string::npos);
    EXPECT_NE(world.execute("mute zz").find("not a number"), std::string::npos);
    EXPECT_NE(world.execute("reboot").find("unknown command"), std::string::npos);
    EXPECT_EQ(world.execute("quit"), "");
    const auto t0 = std::chrono::steady_clock::now();
    world.run(5);  // returns at once: quit asked for the stop
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
}

}  // namespace
}  // namespace qv::sim
