// The simulator's chargers, battery-management node, load generator and leaving devices.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/bms_node.h"
#include "sim/controller.h"
#include "sim/load_generator.h"
#include "sim/options.h"
#include "sim/telemetry_model.h"

namespace qv::sim {
namespace {

float floatAt(const std::array<std::uint8_t, 8>& d, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) bits |= std::uint32_t{d[at + i]} << (8 * i);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Collects what the nodes put on the bus.
class Recorder : public Node {
  public:
    void onFrame(const CanFrame& f, double) override { frames.push_back(f); }
    void tick(double) override {}
    std::vector<CanFrame> frames;
};

TEST(SimCharger, ChargerModeReportsChargerQuantities) {
    TelemetryModel grid;
    grid.setKind(TelemetryModel::kindOf(0x4001));
    ASSERT_TRUE(grid.chargerMode());
    grid.advance(0);
    grid.advance(20000);
    const auto bus = *grid.message(0x02);
    EXPECT_NEAR(floatAt(bus, 0), 96.4, 1.0);
    EXPECT_EQ(floatAt(bus, 4), 1.0f);  // grid OK
    EXPECT_NEAR(floatAt(*grid.message(0x03), 0), 50.0, 0.05);
    const float vrms = floatAt(*grid.message(0x07), 0);
    const float iq = floatAt(*grid.message(0x06), 0);
    EXPECT_NEAR(vrms, 230.0, 2.0);
    EXPECT_NEAR(iq * vrms * 3, 96.4 * 20.0, 150.0);    // the power the pack takes
    EXPECT_GT(floatAt(*grid.message(0x0E), 4), 0.0f);  // energy grows

    TelemetryModel iso;
    iso.setKind(TelemetryModel::kindOf(0x4000));
    iso.advance(0);
    iso.advance(20000);
    EXPECT_NEAR(floatAt(*iso.message(0x04), 4), 20.0, 0.5);   // output current
    EXPECT_NEAR(floatAt(*iso.message(0x05), 4), 380.0, 3.0);  // snubber capacitor
    EXPECT_NEAR(floatAt(*iso.message(0x06), 0), 42.0, 2.0);   // duty cycle %
}

TEST(SimCharger, ActiveMotorIsReportedAndSelectsMotorMode) {
    TelemetryModel m;
    m.setKind(TelemetryModel::Kind::kIsolatedCharger);
    m.setActiveMotor(3);
    EXPECT_FALSE(m.chargerMode());
    m.advance(0);
    m.advance(20000);
    const auto status = *m.message(0x01);
    EXPECT_EQ(status[4], 3);
    EXPECT_EQ(status[5], 0);
    EXPECT_GT(floatAt(*m.message(0x03), 0), 0.0f);  // a motor turning
    EXPECT_EQ(TelemetryModel::kindOf(0x4002), TelemetryModel::Kind::kMotorController);
}

TEST(SimBms, PrechargeSequenceAndMovingCells) {
    EXPECT_EQ(BmsNode::prechargeState(0.5), 1);
    EXPECT_EQ(BmsNode::prechargeState(2.5), 3);
    EXPECT_EQ(BmsNode::prechargeState(4.5), 2);
    EXPECT_EQ(BmsNode::prechargeState(10.0), 4);
    EXPECT_EQ(BmsNode::prechargeState(30.5), 1);
    const auto a = BmsNode::cellMessage(0);
    const auto b = BmsNode::cellMessage(15);
    const auto low = static_cast<std::int16_t>(a[0] | (a[1] << 8));
    const auto high = static_cast<std::int16_t>(a[2] | (a[3] << 8));
    EXPECT_GT(low, 3000);
    EXPECT_LT(low, high);
    EXPECT_LT(high, 3500);
    EXPECT_NE(a, b);
    const int lowCell = a[4] | (a[5] << 8);
    EXPECT_GE(lowCell, 1);
    EXPECT_LE(lowCell, 108);

    Bus bus;
    BmsNode bms(bus);
    Recorder r;
    bus.attach(bms);
    bus.attach(r);
    for (double t = 0; t <= 1000; t += 10) {
        bms.tick(t);
        bus.deliver(t);
    }
    ASSERT_EQ(r.frames.size(), 22u);  // every 100 ms, both messages
    EXPECT_EQ(r.frames[0].identifier(), kBmsPrechargeId);
    EXPECT_EQ(r.frames[1].identifier(), kBmsCellsId);
}

TEST(SimLoad, FillsTheBusAtTheRateWithNumberedFrames) {
    Bus bus;
    LoadGenerator load(bus, 8700);
    Recorder r;
    bus.attach(load);
    bus.attach(r);
    for (double t = 0; t <= 1000; t += 1) {
        load.tick(t);
        bus.deliver(t);
    }
    EXPECT_NEAR(static_cast<double>(r.frames.size()), 8700.0, 2.0);
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        ASSERT_EQ(r.frames[i].data64(), i);
        ASSERT_TRUE(r.frames[i].extended());
    }
    // A stalled loop sends at most 50 ms of frames at once.
    load.tick(3000);
    bus.deliver(3000);
    EXPECT_LE(r.frames.size(), 8700u + 436u);
}

TEST(SimLeaving, WithdrawAnnouncesOnceThenSilence) {
    Bus bus;
    ControllerSettings s;
    s.device = parseDevice("0x400:77:KX01");
    Controller c(bus, s);
    Recorder r;
    bus.attach(c);
    bus.attach(r);
    c.tick(0);
    bus.deliver(0);
    ASSERT_FALSE(r.frames.empty());
    r.frames.clear();
    c.withdraw();
    bus.deliver(1);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].identifier(), 0x400u);
    EXPECT_EQ(r.frames[0].data()[3], 0xFF);
    EXPECT_EQ(r.frames[0].data()[4], 77);
    for (double t = 0; t < 3000; t += 100) c.tick(t);
    c.onFrame(CanFrame(0x402, false, true, 8), 3000);  // a remote request: no answer
    bus.deliver(3000);
    EXPECT_EQ(r.frames.size(), 1u);
    // Speaking again: announces at once.
    c.setSilent(false);
    c.tick(3100);
    bus.deliver(3100);
    EXPECT_GT(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[1].identifier(), 0x400u);
}

TEST(SimOptions, MonitoringOptions) {
    const Options o = parseOptions({"--device", "0x400:1:KX01", "--device", "0x200:2:0x4000",
                                    "--active-motor", "0x200:2", "--withdraw", "0x400:1.5",
                                    "--silence", "0x200:3", "--bms", "--load-fps", "8700"});
    EXPECT_EQ(o.devices[1].activeMotor, 2);
    ASSERT_EQ(o.deviceEvents.size(), 2u);
    EXPECT_EQ(o.deviceEvents[0].action, DeviceEvent::Action::kWithdraw);
    EXPECT_EQ(o.deviceEvents[0].base, 0x400u);
    EXPECT_EQ(o.deviceEvents[0].atSeconds, 1.5);
    EXPECT_EQ(o.deviceEvents[1].action, DeviceEvent::Action::kSilence);
    EXPECT_TRUE(o.bms);
    EXPECT_EQ(o.loadFps, 8700.0);
    EXPECT_THROW(parseOptions({"--withdraw", "0x600:1"}), UsageError);  // no such device
    EXPECT_THROW(parseOptions({"--silence", "0x400"}), UsageError);
    EXPECT_THROW(parseOptions({"--active-motor", "0x410:1"}), UsageError);
    EXPECT_THROW(parseOptions({"--load-fps", "-5"}), UsageError);
    // The default device takes an active motor too.
    EXPECT_EQ(parseOptions({"--active-motor", "0x400:4"}).devices.at(0).activeMotor, 4);
}

}  // namespace
}  // namespace qv::sim
