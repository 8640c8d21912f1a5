// qvcli devices, telemetry, log and monitor --format candump against the simulator.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "monitor/bus_trace.h"
#include "sim/world.h"
#include "support/fifo.h"
#include "support/ports.h"
#include "support/process.h"

namespace qv {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::size_t columns(const std::string& line) {
    return static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

bool isHex(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// "(SECONDS.MICROSECONDS) can0 ID#DATA": ten and six digits, a 3- or 8-digit identifier, up to
// eight data bytes or R.
bool isCandumpLine(const std::string& s) {
    const auto close = s.find(") can0 ");
    const auto hash = s.find('#');
    if (s.size() < 20 || s[0] != '(' || close != 18 || s[11] != '.' || hash == std::string::npos)
        return false;
    const std::string digits = s.substr(1, 10) + s.substr(12, 6);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const std::string id = s.substr(25, hash - 25);
    const std::string data = s.substr(hash + 1);
    return (id.size() == 3 || id.size() == 8) && isHex(id) &&
           (data == "R" || (data.size() % 2 == 0 && data.size() <= 16 && isHex(data)));
}

// "CAPTION\tVALUE UNIT..." with the given caption and each cell ending in its unit ("" for an
// empty field).
bool isRow(const std::string& line, const std::string& caption,
           const std::vector<std::string>& units) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() != units.size() + 1 || fields[0] != caption) return false;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::string& f = fields[i + 1];
        if (units[i].empty() ? !f.empty() : (f.size() <= units[i].size() || !f.ends_with(units[i])))
            return false;
    }
    return true;
}

class CliMonitoring : public ::testing::Test {
  protected:
    CliMonitoring() : port_(test::freePort()) {}
    void startSim(double loadFps = 0) {
        sim::Options o;
        o.port = port_;
        o.devices = {sim::parseDevice("0x400:123456:KX01"), sim::parseDevice("0x080:77:0x4001"),
                     sim::parseDevice("0x200:99:0x4000")};
        o.loadFps = loadFps;
        world_ = std::make_unique<sim::BackgroundWorld>(o);
    }
    test::ProcessResult cli(std::vector<std::string> args) {
        args.insert(args.begin() + 1,
                    {"--interface", "127.0.0.1", "--port", std::to_string(port_)});
        return test::runProcess(QV_CLI_PATH, args, 20000);
    }

    std::uint16_t port_;
    std::unique_ptr<sim::BackgroundWorld> world_;
};

TEST_F(CliMonitoring, DevicesListsEveryDeviceInOrder) {
    startSim();
    const auto r = cli({"devices", "--seconds", "1.3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "CAN Base |  Device  |  SerNum\n"
              "0x080   ecGT   0000077\n"
              "0x200   ecISO  0000099\n"
              "0x400   qvm40  0123456\n");
}

TEST_F(CliMonitoring, NothingOnTheBusIsNoDevice) {
    const auto devices = cli({"devices", "--seconds", "0.5"});
    EXPECT_EQ(devices.exitCode, 1);
    EXPECT_EQ(devices.err, "No device found\n");
    EXPECT_EQ(devices.out, "");
    const auto telemetry = cli({"telemetry", "--seconds", "0.3"});
    EXPECT_EQ(telemetry.exitCode, 1);
    EXPECT_EQ(telemetry.err, "No device found\n");
    EXPECT_EQ(cli({"telemetry", "--device", "0x401"}).exitCode, 2);
    EXPECT_EQ(cli({"log", "--period", "5"}).exitCode, 2);
    EXPECT_EQ(cli({"monitor", "--format", "pcap"}).exitCode, 2);
}

TEST_F(CliMonitoring, TelemetryPrintsThePanelOfTheSelectedDevice) {
    startSim();
    const auto r = cli({"telemetry", "--seconds", "1.3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 19u) << r.out;
    EXPECT_EQ(l[0], "Active Motor\t0");
    EXPECT_EQ(l[1], "CAN Err Cnt (T/R)\t0 \t0 ");
    EXPECT_TRUE(isRow(l[4], "Bus Volt/Curr", {" V", " A"})) << l[4];
    EXPECT_TRUE(l[4].starts_with("Bus Volt/Curr\t9")) << l[4];  // near 96 V
    EXPECT_TRUE(isRow(l[8], "Motor BEMF (d/q)", {"", " V"})) << l[8];
    const std::string degrees =
        " \xC2\xB0"
        "C";
    EXPECT_TRUE(isRow(l[15], "C / B Temp", {degrees, degrees})) << l[15];
    EXPECT_TRUE(l[18].starts_with("CAN BUS loading is ")) << l[18];

    // The isolated charger in charger mode: its captions, disabled cells as empty fields.
    const auto c = cli({"telemetry", "--device", "0x200", "--seconds", "1.3"});
    ASSERT_EQ(c.exitCode, 0) << c.err;
    const auto cl = lines(c.out);
    ASSERT_EQ(cl.size(), 19u);
    EXPECT_TRUE(isRow(cl[4], "Bus Volt", {" V", ""})) << cl[4];
    EXPECT_EQ(cl[6], "-\t\t");
    EXPECT_EQ(cl[11], "-\t");
    EXPECT_TRUE(cl[17].starts_with("Veh kWh\t\t")) << cl[17];

    const auto missing = cli({"telemetry", "--device", "0x0A0", "--seconds", "1"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "No device found\n");
}

TEST_F(CliMonitoring, LogWritesHeaderAndRowsAndAppendsLater) {
    startSim();
    char dir[] = "/tmp/qv_cli_log_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string base = std::string(dir) + "/trip";
    auto r = cli({"log", "--device", "0x080", "--seconds", "2", "-o", base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, base + ".csv\n");
    std::ifstream in(base + ".csv");
    std::stringstream text;
    text << in.rdbuf();
    auto l = lines(text.str());
    ASSERT_GE(l.size(), 3u);
    EXPECT_TRUE(
        l[0].starts_with("Time, Errors, Limiters, Current SP, Velocity SP, Idc SP, misc "
                         "SP, Bus Voltage (V), Grid OK (BOOL)"))
        << l[0];
    for (const std::string& line : l) EXPECT_EQ(columns(line), 31u) << line;
    EXPECT_EQ(l[1].find(", 0x0, 0x0, "), 8u) << l[1];  // after HH:MM:SS
    const std::size_t first = l.size();

    r = cli({"log", "--device", "0x080", "--seconds", "1.5", "--period", "1", "-o", base + ".csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::ifstream again(base + ".csv");
    std::stringstream text2;
    text2 << again.rdbuf();
    l = lines(text2.str());
    EXPECT_GT(l.size(), first);
    EXPECT_EQ(std::count_if(l.begin(), l.end(),
                            [](const std::string& s) { return s.starts_with("Time"); }),
              1);
    std::filesystem::remove_all(dir);

    const auto bad = cli({"log", "--seconds", "1.5", "-o", "/nonexistent-dir/x"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.err, "Unable to open file \"/nonexistent-dir/x.csv\" for logging\n");
    // A named pipe is refused at once, not waited on.
    test::Fifo fifo;
    const auto pipe = cli({"log", "--seconds", "1.5", "-o", fifo.path()});
    EXPECT_EQ(pipe.exitCode, 1);
    EXPECT_EQ(pipe.err, "Unable to open file \"" + fifo.path() + "\" for logging\n");
}

TEST_F(CliMonitoring, MonitorWritesCandumpLogLines) {
    startSim(200);
    const auto r = cli({"monitor", "--format", "candump", "--count", "200", "--seconds", "5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 200u);

    bool extended = false, standard = false;
    for (const std::string& s : l) {
        EXPECT_TRUE(isCandumpLine(s)) << s;
        extended |= s.find(" can0 1ABCDE01#") != std::string::npos;
        standard |= s.find(" can0 401#") != std::string::npos;
    }
    EXPECT_TRUE(extended);
    EXPECT_TRUE(standard);
    // The Bus Monitor window's log of the same frames at the same times is the same text.
    std::vector<CandumpRecord> records;
    for (const std::string& s : l) {
        std::string error;
        const auto record = parseCandumpLine(s, error);
        ASSERT_TRUE(record) << s << ": " << error;
        records.push_back(*record);
    }
    BusMonitorModel window;
    window.load(records);
    EXPECT_EQ(window.candump(false), r.out);
    EXPECT_EQ(cli({"monitor", "--format", "candump", "--status"}).exitCode, 2);
}

}  // namespace
}  // namespace qv
