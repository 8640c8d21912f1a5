// qvcli's JSON lines, read back by Qt's JSON parser: every value as decoded, numbers as
// numbers, and the programs' own output against the simulator.
#include "monitor/json_lines.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <random>
#include <sstream>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"
#include "sim/world.h"
#include "support/ports.h"
#include "support/process.h"

namespace qv {
namespace {

QJsonObject parsed(const std::string& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(doc.isObject()) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    return doc.object();
}

CanFrame::Data floatsData(float a, float b) {
    CanFrame::Data d{};
    std::memcpy(d.data(), &a, 4);
    std::memcpy(d.data() + 4, &b, 4);
    return d;
}

// A float as JSON gave it back: the same float, or null for one that is no number.
void expectSame(const QJsonObject& o, const char* name, float value) {
    ASSERT_TRUE(o.contains(name)) << name;
    if (!std::isfinite(value)) {
        EXPECT_TRUE(o[name].isNull()) << name;
        return;
    }
    ASSERT_TRUE(o[name].isDouble()) << name;
    EXPECT_EQ(static_cast<float>(o[name].toDouble()), value) << name;
}

// Random values in every telemetry message of devices of each kind, decoded by the program's
// own monitor: the JSON line names each one by what it is in the device's mode and gives it
// back to the last bit.
TEST(JsonLines, TelemetryGivesBackEveryDecodedValue) {
    std::mt19937 random(18);
    std::uniform_real_distribution<float> any(-5000.0f, 5000.0f);
    struct Kind {
        const char* product;  // four bytes of the identification
        bool gridCharger;
        bool isoCharger;
    };
    const char gridTie[4] = {0x01, 0x40, 0x00, 0x00};
    const char iso[4] = {0x00, 0x40, 0x00, 0x00};
    for (const Kind& kind :
         {Kind{"KX01", false, false}, Kind{gridTie, true, false}, Kind{iso, false, true}}) {
        for (int round = 0; round < 20; ++round) {
            CConfigDataBank store;
            Monitor m(store);
            CanFrame::Data id{};
            std::memcpy(id.data(), kind.product, 4);
            id[4] = 0x40;  // serial 0x1E240 = 123456
            id[5] = 0xE2;
            id[6] = 0x01;
            m.handleFrame(0x400, 0x0100007F, id);
            ASSERT_TRUE(m.selected().selected);
            CanFrame::Data status{0x05, 0x00, 0x21, 0x02, 0x00, 0x00, 0x02, 0x03};
            m.handleFrame(0x401, 0, status);
            std::vector<float> sent;
            for (std::uint32_t offset : {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x17}) {
                float a = any(random), b = any(random);
                if (round == 1 && offset == 5) a = std::numeric_limits<float>::quiet_NaN();
                if (round == 2 && offset == 9) b = std::numeric_limits<float>::infinity();
                if (round == 3 && offset == 2) b = 0.75f;
                m.handleFrame(0x400 + offset, 0, floatsData(a, b));
            }
            m.handleFrame(0x7FF, 0, floatsData(1, 2));  // not this device's
            const TelemetryValues& v = m.values();
            const QJsonObject o = parsed(telemetryJson(m));
            EXPECT_EQ(o["base"].toInt(), 0x400);
            EXPECT_EQ(o["serial"].toInt(), 123456);
            EXPECT_EQ(o["mode"].toString(),
                      kind.gridCharger || kind.isoCharger ? "charger" : "motor");
            EXPECT_EQ(o["limits"].toArray(), QJsonArray({"vel", "PWM"}));
            EXPECT_EQ(o["errors"].toArray(), QJsonArray({"OVSPD", "CFG", "HWOC"}));
            EXPECT_EQ(o["error_flags"].toInt(), 0x0221);
            EXPECT_EQ(o["can_tx_errors"].toInt(), 2);
            EXPECT_EQ(o["can_rx_errors"].toInt(), 3);
            expectSame(o, "bus_voltage_V", v.busVoltage);
            if (kind.gridCharger) {
                EXPECT_EQ(o["grid_ok"].toBool(), v.busCurrent > 0.5f);
                expectSame(o, "grid_frequency_Hz", v.motorVelocity);
                EXPECT_FALSE(o.contains("motor_velocity_rpm"));
            } else {
                expectSame(o, "bus_current_A", v.busCurrent);
                expectSame(o, "motor_velocity_rpm", v.motorVelocity);
            }
            if (kind.isoCharger) {
                expectSame(o, "noload_error_V", v.outputCurrentD);
                expectSame(o, "duty_cycle_percent", v.outputCurrentQ);
            } else {
                expectSame(o, "output_current_d_A", v.outputCurrentD);
                expectSame(o, "output_current_q_A", v.outputCurrentQ);
            }
            const std::pair<const char*, float> common[] = {
                {"vehicle_velocity_m_s", v.vehicleVelocity},
                {"phase_b_current_A", v.phaseBCurrent},
                {"phase_c_current_A", v.phaseCCurrent},
                {"output_voltage_d_V", v.outputVoltageD},
                {"output_voltage_q_V", v.outputVoltageQ},
                {"back_emf_V", v.backEmf},
                {"voltage_0x08_V", v.hiddenVoltage},
                {"rail_15V_V", v.rail15V},
                {"rail_1V9_V", v.rail1V9},
                {"rail_3V3_V", v.rail3V3},
                {"ratio_0x0A", v.ratio0A},
                {"speed_0x0A_rpm", v.speedRpm0A},
                {"motor_temperature_degC", v.motorTemperature},
                {"phase_a_temperature_degC", v.phaseATemperature},
                {"dsp_temperature_degC", v.dspTemperature},
                {"phase_b_temperature_degC", v.phaseBTemperature},
                {"temperature_0x0D_degC", v.hiddenTemperature},
                {"phase_c_temperature_degC", v.phaseCTemperature},
                {"odometer_m", v.odometer},
                {"bus_charge_Ah", v.busCharge},
                {"slip_speed_Hz", v.slipSpeed},
            };
            for (const auto& [name, value] : common) expectSame(o, name, value);
        }
    }
    // Nothing heard yet: the device only, no values that look like readings.
    CConfigDataBank store;
    Monitor quiet(store);
    const QJsonObject o = parsed(telemetryJson(quiet));
    EXPECT_FALSE(o.contains("bus_voltage_V"));
    EXPECT_EQ(o["base"].toInt(), -1);
}

TEST(JsonLines, FramesAndDevices) {
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const bool extended = random() % 2;
        const bool remote = random() % 4 == 0;
        const std::uint32_t id = extended ? random() % 0x20000000u : random() % 0x800u;
        const auto length = static_cast<std::uint8_t>(random() % 16);
        CanFrame::Data data{};
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        CanPacket p;
        p.frame = CanFrame(id, extended, remote, length, data);
        p.status = random() % 5 == 0;
        const QJsonObject o = parsed(frameJson(p, 1436509052.249713));
        EXPECT_EQ(o["time_s"].toDouble(), 1436509052.249713);
        EXPECT_EQ(static_cast<std::uint32_t>(o["id"].toDouble()), id);
        EXPECT_EQ(o["extended"].toBool(), extended);
        EXPECT_EQ(o["remote"].toBool(), remote);
        EXPECT_EQ(o["length"].toInt(), length);
        EXPECT_EQ(o["status"].toBool(), p.status);
        const QJsonArray bytes = o["data"].toArray();
        ASSERT_EQ(bytes.size(), remote ? 0 : std::min<int>(length, 8));
        for (qsizetype k = 0; k < bytes.size(); ++k)
            EXPECT_EQ(bytes[k].toInt(), data[static_cast<std::size_t>(k)]);
    }
    DeviceEntry e;
    e.baseAddress = 0x7E0;
    e.serialNumber = 4000000000u;
    e.bridgeAddress = 0x1401A8C0;
    e.deviceType = 0x4003;
    std::memcpy(e.displayName.data(), "qvm7 ", 6);
    const QJsonObject o = parsed(deviceJson(e));
    EXPECT_EQ(o["base"].toInt(), 0x7E0);
    EXPECT_EQ(o["device"].toString(), "qvm7");
    EXPECT_EQ(o["serial"].toDouble(), 4000000000.0);
    EXPECT_EQ(o["type"].toInt(), 0x4003);
    EXPECT_EQ(o["bridge"].toString(), "192.168.1.20");
    EXPECT_EQ(jsonString("a\"b\\c\x01\xC2\xB0"), "\"a\\\"b\\\\c\\u0001\xC2\xB0\"");
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The program's own lines against the simulator; the text formats stay the default.
TEST(JsonLines, QvcliAgainstTheSimulator) {
    sim::Options options;
    options.port = test::freePort();
    options.devices = {sim::parseDevice("0x400:123456:KX01"), sim::parseDevice("0x080:77:0x4001")};
    sim::BackgroundWorld world(options);
    auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1,
                    {"--interface", "127.0.0.1", "--port", std::to_string(options.port)});
        return test::runProcess(QV_CLI_PATH, args, 20000);
    };
    // The three run side by side.
    auto telemetryRun =
        std::async(std::launch::async, cli,
                   std::vector<std::string>{"telemetry", "--seconds", "1.3", "--format", "json"});
    auto framesRun = std::async(
        std::launch::async, cli,
        std::vector<std::string>{"monitor", "--count", "5", "--seconds", "5", "--format", "json"});
    const auto devices = cli({"devices", "--seconds", "1.3", "--format", "json"});
    ASSERT_EQ(devices.exitCode, 0) << devices.err;
    const auto rows = lines(devices.out);
    ASSERT_EQ(rows.size(), 2u) << devices.out;
    EXPECT_EQ(parsed(rows[0])["base"].toInt(), 0x080);
    EXPECT_EQ(parsed(rows[1])["serial"].toInt(), 123456);
    EXPECT_EQ(parsed(rows[1])["device"].toString(), "qvm40");

    const auto telemetry = telemetryRun.get();
    ASSERT_EQ(telemetry.exitCode, 0) << telemetry.err;
    ASSERT_EQ(lines(telemetry.out).size(), 1u) << telemetry.out;
    const QJsonObject t = parsed(lines(telemetry.out)[0]);
    EXPECT_TRUE(t["base"].toInt() == 0x080 || t["base"].toInt() == 0x400) << telemetry.out;
    EXPECT_TRUE(t["bus_voltage_V"].isDouble()) << telemetry.out;

    const auto frames = framesRun.get();
    ASSERT_EQ(frames.exitCode, 0) << frames.err;
    const auto frameLines = lines(frames.out);
    ASSERT_EQ(frameLines.size(), 5u) << frames.out;
    for (const std::string& l : frameLines) {
        const QJsonObject f = parsed(l);
        EXPECT_TRUE(f["id"].isDouble() && f["data"].isArray() && f["time_s"].isDouble()) << l;
    }
    EXPECT_EQ(cli({"devices", "--format", "csv"}).exitCode, 2);
}

}  // namespace
}  // namespace qv
