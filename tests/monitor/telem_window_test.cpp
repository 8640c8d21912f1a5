// The Telemetry window's cells and its raw CAN log.
#include "monitor/telem_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"
#include "monitor_test_support.h"

namespace qv {
namespace {

using test::bytes;
using test::floats;

const std::string kDeg =
    "\xC2\xB0"
    "C";

std::tm someTime(int second) {
    std::tm t{};
    t.tm_year = 2015 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 2;
    t.tm_hour = 14;
    t.tm_min = 3;
    t.tm_sec = second;
    return t;
}

class TelemWindow : public ::testing::Test {
  protected:
    void feed(std::uint32_t id, const CanFrame::Data& d, std::int32_t base = 0x400) {
        w.update(id, d, base);
    }
    const std::string& text(int id) {
        w.refresh();
        return w.cell(id).text;
    }
    test::TempDir dir;
    TelemWindowModel w{dir.path().string()};
};

TEST_F(TelemWindow, OwnNameTablesForLimitsAndErrors) {
    EXPECT_EQ(text(1184), "-");
    feed(0x401, bytes({0x41, 0, 0x20, 0x02}));
    EXPECT_EQ(text(1184), "sink, PWM");
    EXPECT_EQ(text(1183), "CGF");  // byte 3 is not shown here
    EXPECT_EQ(w.cell(1183).background, kErrorRed);
    feed(0x401, bytes({0x7F, 0, 0x7F, 0}));
    EXPECT_EQ(text(1184), "sink, VdcMin, VdcMax, Idc, vel, Iq, PWM");
    EXPECT_EQ(text(1183), "UV15V, CGF, WD, HALL, OV, SWOC, HWOC");
    feed(0x401, bytes({0, 0, 0, 0}));
    EXPECT_EQ(text(1183), "");
    EXPECT_EQ(w.cell(1183).background, kButtonFace);
}

TEST_F(TelemWindow, CurrentsVoltagesPowerAndEnergy) {
    feed(0x404, floats(12.5f, -30.0f));
    EXPECT_EQ(text(1185), "12.50 A");  // the larger value, not the larger magnitude
    feed(0x402, floats(324.0f, 10.0f));
    EXPECT_EQ(text(1186), "324.00 V");
    EXPECT_EQ(text(1190), "3.00 V");
    EXPECT_EQ(text(1187), "10.00 A");
    EXPECT_EQ(text(1188), "3240 W");
    EXPECT_EQ(text(1195), "0.0 Whr/km");  // standing still
    feed(0x403, floats(3000.0f, 10.0f));
    EXPECT_EQ(text(1192), "3000 rpm");
    feed(0x402, floats(324.0f, 10.0f));
    EXPECT_EQ(text(1195), "90 Whr/km");
}

TEST_F(TelemWindow, TemperaturesTakeTheHottestPhase) {
    feed(0x40B, floats(60.0f, 40.0f));
    feed(0x40C, floats(99.0f, 45.0f));
    feed(0x40D, floats(99.0f, 50.0f));
    EXPECT_EQ(text(1193), "60.0 " + kDeg);
    EXPECT_EQ(text(1194), "50.0 " + kDeg);
}

TEST_F(TelemWindow, CellsAndPrechargeFromTheBatteryNode) {
    feed(0x266, bytes({0x60, 0xF0, 0x10, 0x0E, 7, 0, 0x2A, 0}), -1);
    EXPECT_EQ(text(1189), "7: -4.000 V");
    EXPECT_EQ(text(1191), "42: 3.600 V");
    feed(0x263, bytes({0, 4}), -1);
    EXPECT_EQ(text(1182), "RUN");
    EXPECT_EQ(w.cell(1182).background, kRunGreen);
    EXPECT_EQ(w.cell(1182).textColour, kBlack);
    feed(0x263, bytes({0, 0}));
    EXPECT_EQ(text(1182), "ERROR");
    EXPECT_EQ(w.cell(1182).background, kErrorRed);
    feed(0x263, bytes({0, 2}));
    EXPECT_EQ(text(1182), "MAIN");
    EXPECT_EQ(w.cell(1182).background, kWhite);
    feed(0x263, bytes({0, 3}));
    EXPECT_EQ(text(1182), "PRECH");
    EXPECT_EQ(w.cell(1182).background, kWarningOrange);
    feed(0x263, bytes({0, 9}));
    EXPECT_EQ(text(1182), "");
    EXPECT_EQ(w.cell(1182).background, kWarningOrange);  // unchanged
}

TEST_F(TelemWindow, DeviceAt0x260SendsItsSpeedAt0x263) {
    feed(0x263, floats(1234.0f, 5.0f), 0x260);
    EXPECT_EQ(text(1192), "1234 rpm");
    EXPECT_EQ(text(1182), "-");
}

TEST_F(TelemWindow, WithoutABaseOnlyTheFixedIdentifiersCount) {
    feed(0x001, bytes({0x41, 0, 0x20, 0}), -1);  // would be status with base -1
    EXPECT_EQ(text(1184), "-");
}

TEST_F(TelemWindow, OnlyChangedCellsAreReported) {
    w.refresh();
    feed(0x402, floats(100.0f, 1.0f));
    EXPECT_EQ(w.refresh(), (std::vector<int>{1186, 1187, 1188, 1190, 1195}));
    feed(0x402, floats(100.0f, 1.0f));
    EXPECT_TRUE(w.refresh().empty());
}

TEST_F(TelemWindow, RawLogLinesAndFileName) {
    EXPECT_EQ(rawCanLogFileName(someTime(7)), "canlog_2015-03-02_14-03-07.csv");
    std::string line;
    appendRawCanLine(line, 1436509052, 0x123, bytes({0xDE, 0xAD, 0xBE, 0xEF, 0, 1, 2, 255}));
    EXPECT_EQ(line, "1436509052, 291, 222, 173, 190, 239, 0, 1, 2, 255 \n");
}

TEST_F(TelemWindow, RawLogIsOpenExactlyWhileShown) {
    w.rawLog().write(1, 0x100, bytes({1}));  // hidden: nothing written anywhere
    w.setShown(true, someTime(7), 0);
    ASSERT_TRUE(w.rawLog().isOpen());
    const std::string path = w.rawLog().path();
    EXPECT_EQ(path, dir.file("canlog_2015-03-02_14-03-07.csv"));
    w.rawLog().write(100, 0x100, bytes({1}));
    w.setShown(false, someTime(8), 10);
    EXPECT_FALSE(w.rawLog().isOpen());
    EXPECT_EQ(test::readFile(path), "100, 256, 1, 0, 0, 0, 0, 0, 0, 0 \n");
    // A second showing in the same second appends to the first log instead of replacing it.
    w.setShown(true, someTime(7), 20);
    w.rawLog().write(101, 0x101, bytes({2}));
    w.setShown(false, someTime(7), 30);
    EXPECT_EQ(test::lines(test::readFile(path)).size(), 2u);
    // A showing a second later starts another file.
    w.setShown(true, someTime(8), 40);
    EXPECT_NE(w.rawLog().path(), path);
    w.setShown(false, someTime(8), 50);
}

TEST_F(TelemWindow, RawLogWriteFailureIsReportedOnce) {
    w.setShown(true, someTime(9), 0);
    const std::string path = w.rawLog().path();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    w.rawLog().write(1, 0x100, bytes({1}));
    w.rawLog().flushIfDue(1000);
    EXPECT_FALSE(w.rawLog().isOpen());
    const auto failure = w.rawLog().takeFailure();
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->find(path), std::string::npos);
    EXPECT_FALSE(w.rawLog().takeFailure());
    w.rawLog().write(2, 0x100, bytes({1}));  // closed: ignored
    EXPECT_FALSE(w.rawLog().takeFailure());
}

TEST(TelemWindowInMonitor, SeesFramesBeforeTheMainDecoderOnlyWhileShown) {
    CConfigDataBank store;
    test::TempDir dir;
    Monitor m(store, dir.path().string());
    m.handleFrame(0x260, 0, test::identification("KX01", 1));
    m.handleFrame(0x263, 0, floats(500.0f, 2.0f));
    m.telemetryWindow().refresh();
    EXPECT_EQ(m.telemetryWindow().cell(1192).text, "-");
    m.telemetryWindow().setShown(true, someTime(1), 0);
    m.handleFrame(0x263, 0, floats(500.0f, 2.0f));
    m.telemetryWindow().refresh();
    EXPECT_EQ(m.telemetryWindow().cell(1192).text, "500 rpm");
    EXPECT_EQ(m.values().motorVelocity, 500.0f);
    m.telemetryWindow().setShown(false, someTime(1), 0);
}

}  // namespace
}  // namespace qv
