// The telemetry log: file name, header variants, rows, appending and write failures.
#include "monitor/telemetry_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "monitor/raw_can_log.h"
#include "monitor_test_support.h"
#include "support/fifo.h"

namespace qv {
namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(TelemetryLog, FileNameAndExtension) {
    EXPECT_EQ(telemetryLogFileName(at(2015, 3, 2, 14, 3, 7)), "QVlog_2015-03-02_14-03-07.csv");
    EXPECT_EQ(withCsvExtension("trip"), "trip.csv");
    EXPECT_EQ(withCsvExtension("trip.csv"), "trip.csv");
    EXPECT_EQ(withCsvExtension("logs.d/trip"), "logs.d/trip.csv");
    EXPECT_EQ(withCsvExtension("run.txt"), "run.txt");
}

TEST(TelemetryLog, HeaderVariantsHaveThirtyOneColumns) {
    const std::string motor = telemetryLogHeader(kTypeLargeController, 1);
    const std::string iso = telemetryLogHeader(kTypeIsolatedCharger, 0);
    const std::string grid = telemetryLogHeader(kTypeGridTieCharger, 0);
    const std::string small = telemetryLogHeader(kTypeSmallController, 0);
    const std::string isoMotor = telemetryLogHeader(kTypeIsolatedCharger, 2);
    for (const std::string& h : {motor, iso, grid, small, isoMotor}) {
        EXPECT_EQ(test::columns(h), 31u) << h;
        EXPECT_EQ(h.back(), '\n');
        EXPECT_EQ(h.rfind("Time, Errors, Limiters, Current SP, Velocity SP, Idc SP, misc SP", 0),
                  0u);
        EXPECT_NE(h.find(", CAN Trans Errs, CAN Recv Errs, Slip Speed (Hz)\n"), std::string::npos);
    }
    EXPECT_NE(iso.find("misc SP, Bus Voltage (V), nBus Current (A), nVelocity (m/s)"),
              std::string::npos);
    EXPECT_NE(iso.find(", nBEMF (V), Snubber Cap Volt (V), Out Volt (V), NoLoad Ctl Err (V), "
                       "Duty Cycle (%)"),
              std::string::npos);
    EXPECT_NE(iso.find(", nMotor Temp (C), DSP Temp (C)"), std::string::npos);
    EXPECT_NE(grid.find(", Bus Voltage (V), Grid OK (BOOL), nVelocity (m/s), Grid Frequency (Hz)"),
              std::string::npos);
    EXPECT_NE(grid.find("nOdometer (m), Grid kWh, Grid Voltage RMS (V), VoutD (V)"),
              std::string::npos);
    EXPECT_NE(grid.find(", nMotor Temp (C)"), std::string::npos);
    EXPECT_NE(small.find(", Motor Temp (C), DSP Temp (C), Phase A Temp (C), nPhase B Temp (C), "
                         "nPhase C Temp (C)"),
              std::string::npos);
    EXPECT_EQ(motor, isoMotor);
    EXPECT_NE(motor.find("Odometer (m), Bus Charge (Ah), BEMF (V)"), std::string::npos);
}

TEST(TelemetryLog, RowHasEveryValueInItsColumn) {
    TelemetryValues v;
    v.errorFlags = 0x221;
    v.limitFlags = 0x5;
    v.currentSetpoint = 0.5f;
    v.velocitySetpoint = 1000;
    v.busCurrentSetpoint = 3;
    v.miscSetpoint = 4;
    v.busVoltage = 11;
    v.busCurrent = 12;
    v.vehicleVelocity = 13;
    v.motorVelocity = 14;
    v.phaseCCurrent = 15;
    v.phaseBCurrent = 16;
    v.odometer = 17;
    v.busCharge = 18;
    v.backEmf = 21;
    v.outputVoltageD = 22;
    v.outputVoltageQ = 23;
    v.outputCurrentD = 24;
    v.outputCurrentQ = 25;
    v.rail15V = 26;
    v.rail1V9 = 27;
    v.rail3V3 = 28;
    v.motorTemperature = 31;
    v.dspTemperature = 32;
    v.phaseATemperature = 33;
    v.phaseBTemperature = 34;
    v.phaseCTemperature = 35;
    v.canTransmitErrors = 7;
    v.canReceiveErrors = 9;
    v.slipSpeed = -1.25f;
    std::string row;
    appendTelemetryLogRow(row, at(2015, 3, 2, 14, 3, 7), v);
    EXPECT_EQ(row,
              "14:03:07, 0x221, 0x5, 0.500000, 1000.000000, 3.000000, 4.000000, 11.000000, "
              "12.000000, 13.000000, 14.000000, 15.000000, 16.000000, 17.000000, 18.000000, "
              "21.000000, 22.000000, 23.000000, 24.000000, 25.000000, 26.000000, 27.000000, "
              "28.000000, 31.000000, 32.000000, 33.000000, 34.000000, 35.000000, 7, 9, "
              "-1.250000\n");
    EXPECT_EQ(test::columns(row), 31u);
    row.clear();
    v.errorFlags = 0xABC;
    appendTelemetryLogRow(row, at(2015, 3, 2, 9, 0, 0), v);
    EXPECT_EQ(row.rfind("09:00:00, 0xABC, 0x5, ", 0), 0u);  // upper case, no padding
}

TEST(TelemetryLog, NewFileGetsTheHeaderAnExistingOneOnlyRows) {
    test::TempDir dir;
    const std::string path = dir.file("trip.csv");
    TelemetryValues v;
    const std::tm t = at(2020, 1, 1, 10, 0, 0);
    TelemetryLog log;
    ASSERT_FALSE(log.start(path, kTypeIsolatedCharger, 0, 0));
    EXPECT_TRUE(log.logging());
    EXPECT_FALSE(log.writeRow(v, t, 200));
    EXPECT_FALSE(log.writeRow(v, t, 400));
    EXPECT_FALSE(log.stop());
    EXPECT_FALSE(log.logging());
    ASSERT_FALSE(log.start(path, kTypeLargeController, 1, 0));
    EXPECT_FALSE(log.writeRow(v, t, 200));
    EXPECT_FALSE(log.stop());
    const auto l = test::lines(test::readFile(path));
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0] + "\n", telemetryLogHeader(kTypeIsolatedCharger, 0));
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(l[i].rfind("10:00:00, 0x0, 0x0, ", 0), 0u);
}

TEST(TelemetryLog, RowsReachTheDiskWithinASecond) {
    test::TempDir dir;
    const std::string path = dir.file("live.csv");
    TelemetryLog log;
    ASSERT_FALSE(log.start(path, kTypeLargeController, 0, 0));
    const std::size_t headerSize = test::readFile(path).size();
    EXPECT_GT(headerSize, 0u);  // the header is on disk at once
    TelemetryValues v;
    const std::tm t = at(2020, 1, 1, 10, 0, 0);
    log.writeRow(v, t, 200);
    EXPECT_EQ(test::readFile(path).size(), headerSize);  // buffered
    log.writeRow(v, t, 400);
    log.flushIfDue(1000);
    EXPECT_EQ(test::lines(test::readFile(path)).size(), 3u);
    log.writeRow(v, t, 1200);
    log.stop();
    EXPECT_EQ(test::lines(test::readFile(path)).size(), 4u);
}

TEST(TelemetryLog, UnopenableFileIsReportedAndLoggingStaysOff) {
    TelemetryLog log;
    const auto message = log.start("/nonexistent-dir/x.csv", kTypeLargeController, 0, 0);
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, "Unable to open file \"/nonexistent-dir/x.csv\" for logging");
    EXPECT_FALSE(log.logging());
}

// A named pipe (or a device) is no log: refused at once for both logs, never waited on.
TEST(TelemetryLog, PipeIsRefusedAtOnce) {
    test::Fifo fifo;
    TelemetryLog log;
    std::optional<std::string> message;
    EXPECT_TRUE(
        fifo.returnsAtOnce([&] { message = log.start(fifo.path(), kTypeLargeController, 0, 0); }));
    EXPECT_EQ(message, "Unable to open file \"" + fifo.path() + "\" for logging");
    EXPECT_FALSE(log.logging());

    std::tm when{};
    when.tm_year = 115;
    when.tm_mday = 2;
    test::Fifo rawFifo(rawCanLogFileName(when));
    RawCanLog raw(rawFifo.folder());
    EXPECT_TRUE(rawFifo.returnsAtOnce([&] { EXPECT_FALSE(raw.open(when, 0)); }));
    EXPECT_FALSE(raw.isOpen());
    EXPECT_TRUE(fifo.stillAPipe());
}

TEST(TelemetryLog, RemovedFileStopsTheLogWithOneMessage) {
    test::TempDir dir;
    const std::string path = dir.file("gone.csv");
    TelemetryLog log;
    ASSERT_FALSE(log.start(path, kTypeLargeController, 0, 0));
    TelemetryValues v;
    const std::tm t = at(2020, 1, 1, 10, 0, 0);
    log.writeRow(v, t, 200);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    const auto message = log.writeRow(v, t, 1200);
    ASSERT_TRUE(message);
    EXPECT_NE(message->find(path), std::string::npos);
    EXPECT_FALSE(log.logging());
    // Reported once: later calls say nothing more.
    EXPECT_FALSE(log.writeRow(v, t, 2400));
    EXPECT_FALSE(log.flushIfDue(5000));
    EXPECT_FALSE(log.stop());
}

TEST(TelemetryLog, FullDiskStopsTheLog) {
    // A file size limit makes writes fail as a full disk does.
    test::TempDir dir;
    const std::string path = dir.file("full.csv");
    TelemetryLog log;
    ASSERT_FALSE(log.start(path, kTypeLargeController, 0, 0));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    TelemetryValues v;
    const std::tm t = at(2020, 1, 1, 10, 0, 0);
    std::optional<std::string> message;
    for (int i = 0; i < 100 && !message; ++i) message = log.writeRow(v, t, 1000.0 * i);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);
    ASSERT_TRUE(message);
    EXPECT_FALSE(log.logging());
}

}  // namespace
}  // namespace qv
