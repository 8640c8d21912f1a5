// A simulated controller under drive commands, on a bus of its own with a clock the test moves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "sim/controller.h"
#include "sim/drive_behaviour.h"

namespace qv::sim {
namespace {

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

// One controller at 0x400 with the default configuration (driver controls at 0x500, speed
// limit 5000 rpm), driven by the test in 10 ms steps.
struct Bench {
    Bus bus;
    double now = 0;
    Controller controller{bus, settings()};

    Bench() {
        controller.addBehaviour(std::make_unique<DriveBehaviour>());
        bus.attach(controller);
    }
    ControllerSettings settings() {
        ControllerSettings s;
        s.device.base = 0x400;
        s.clock = [this] { return now; };
        return s;
    }
    void put(const CanFrame& f) {
        bus.send(f, nullptr);
        bus.deliver(now);
    }
    // Runs for `ms`, sending the drive command every 100 ms when `velocity` is given.
    void run(double ms, std::optional<float> velocity = {}, float current = 0) {
        const double end = now + ms;
        double nextCommand = now;
        while (now < end) {
            if (velocity && now >= nextCommand) {
                put(floats(0x501, *velocity, current));
                nextCommand += 100;
            }
            controller.tick(now);
            bus.deliver(now);
            now += 10;
        }
    }
    // The motor velocity as the telemetry message at base + 3 reports it.
    float rpm() { return floatAt(controller.telemetryFrame(0x03, now), 0); }
    float busCurrent() { return floatAt(controller.telemetryFrame(0x02, now), 4); }
};

TEST(SimDrive, VelocityFollowsTheSetpointAsFastAsTheCurrentAllows) {
    Bench b;
    b.run(500, -2500.0f, 0.5f);  // 0.5 of full current: 2000 rpm/s
    EXPECT_NEAR(b.rpm(), -1000.0f, 60.0f);
    EXPECT_GT(b.busCurrent(), 25.0f);  // accelerating draws current
    b.run(1500, -2500.0f, 0.5f);
    EXPECT_EQ(b.rpm(), -2500.0f);
    EXPECT_LT(b.busCurrent(), 10.0f);  // holding the speed draws little
    // The vehicle speed follows the motor.
    EXPECT_LT(floatAt(b.controller.telemetryFrame(0x03, b.now), 4), 0.0f);

    // The speed limit of the configuration bounds the setpoint.
    b.run(3500, 9000.0f, 1.0f);
    EXPECT_EQ(b.rpm(), 5000.0f);
}

TEST(SimDrive, BusCurrentCommandLimitsTheEffort) {
    Bench b;
    b.put(floats(0x502, 0.0f, 0.25f));
    b.run(500, 3000.0f, 1.0f);  // capped at 0.25: 1000 rpm/s
    EXPECT_NEAR(b.rpm(), 500.0f, 60.0f);
    b.put(floats(0x502, 0.0f, 1.0f));
    b.run(500, 3000.0f, 1.0f);
    EXPECT_NEAR(b.rpm(), 2500.0f, 120.0f);
}

TEST(SimDrive, WithoutCommandsTheControllerStopsTheMotor) {
    Bench b;
    b.run(1000, 2000.0f, 1.0f);
    ASSERT_EQ(b.rpm(), 2000.0f);
    // Within the time-out the last command still holds...
    b.run(800);
    EXPECT_EQ(b.rpm(), 2000.0f);
    // ...then the controller brakes the motor to a stop and keeps it there.
    b.run(700);
    EXPECT_LT(b.rpm(), 1500.0f);
    b.run(1000);
    EXPECT_EQ(b.rpm(), 0.0f);
    b.run(2000);
    EXPECT_EQ(b.rpm(), 0.0f);
}

TEST(SimDrive, FramesThatAreNotCommandsAreIgnored) {
    Bench b;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const CanFrame ignored[] = {
        floats(0x501, nan, 1.0f),
        floats(0x501, inf, 1.0f),
        floats(0x501, -inf, 1.0f),
        floats(0x502, 0.0f, nan),
        CanFrame(0x501, false, true, 8),                         // remote
        CanFrame(0x501, false, false, 4, CanFrame::Data{0xFF}),  // short
        floats(0x503, 3000.0f, 1.0f),                            // not a command
        floats(0x481, 3000.0f, 1.0f),                            // another base
        floats(0x401, 3000.0f, 1.0f),                            // the controller's own range
    };
    for (const CanFrame& f : ignored) {
        for (int i = 0; i < 10; ++i) {
            b.put(f);
            b.run(20);
        }
        // Still the free-running ramp, which stays below 50 rpm in these two seconds.
        const float rpm = b.rpm();
        EXPECT_TRUE(rpm >= 0.0f && rpm < 50.0f) << f.identifier() << ": " << rpm;
    }
}

TEST(SimDrive, SettingsComeFromAnIntactPublicRecord) {
    ObjectTable t = makeControllerObjects(0x400, 1);
    auto s = driveSettings(t);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->driverControlsBase, 0x500u);
    EXPECT_EQ(s->speedLimit, 5000.0);

    // An upload that moves the driver controls and the speed limit.
    std::vector<std::uint8_t> stream = *t.read(object::kConfigStream);
    const std::size_t record = 30;
    const std::uint32_t base = 0x5A0;
    const float limit = 1234.0f;
    std::memcpy(stream.data() + record + 40, &base, 4);
    std::memcpy(stream.data() + record + 8, &limit, 4);
    const std::uint16_t sum =
        recordChecksum(std::span<const std::uint8_t>(stream).subspan(record, 66));
    stream[record] = static_cast<std::uint8_t>(sum);
    stream[record + 1] = static_cast<std::uint8_t>(sum >> 8);
    ASSERT_TRUE(t.store(object::kConfigStream, stream));
    s = driveSettings(t);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->driverControlsBase, 0x5A0u);
    EXPECT_EQ(s->speedLimit, 1234.0);

    // A broken record: no drive at all.
    stream[record + 40] ^= 0x20;
    ASSERT_TRUE(t.store(object::kConfigStream, stream));
    EXPECT_FALSE(driveSettings(t));
    stream.resize(60);
    ASSERT_TRUE(t.store(object::kConfigStream, stream));
    EXPECT_FALSE(driveSettings(t));
}

}  // namespace
}  // namespace qv::sim
