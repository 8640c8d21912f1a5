// The telemetry plots' recording: what it samples (the panel's scaled values at each frame's
// time of arrival), its bound, its captions and units, and the CSV export.
#include <gtest/gtest.h>

#include "config/config_data_bank.h"
#include "monitor/monitor.h"
#include "monitor/plot_selection.h"
#include "monitor_test_support.h"

namespace qv {
namespace {

using test::bytes;
using test::floats;
using test::identification;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kT0 = 1'700'000'000 * kSecond;

// A monitor that records, with the large controller at 0x400 selected.
class Recording : public ::testing::Test {
  protected:
    Recording() {
        m.setRecording(true);
        frame(0, 0x400, identification("KX01", 5));
        frame(0, 0x401, bytes({0, 0, 0, 0, 1, 0, 0, 0}));
    }
    void frame(std::int64_t arrivalNs, std::uint32_t id, const CanFrame::Data& d) {
        CanPacket p;
        p.frame = CanFrame(id, false, 8, d);
        p.arrivalNs = arrivalNs;
        m.takePacket(p);
        m.handleFrame(id, 0, d);
    }
    const RecordedSeries& series(int cell) { return *m.recorder().find(cell); }

    CConfigDataBank store;
    Monitor m{store};
};

TEST_F(Recording, EveryFrameIsSampledAtItsArrivalAsThePanelScalesIt) {
    // Given frames whose values all differ, arriving 5 ms apart (not at a tick)
    frame(kT0, 0x402, floats(96.5f, 12.25f));
    frame(kT0 + 5'000'000, 0x403, floats(1500.0f, 10.0f));
    frame(kT0 + 10'000'000, 0x40E, floats(1234.5f, 7.5f));
    frame(kT0 + 15'000'000, 0x404, floats(3.5f, -4.5f));
    // Then each value is recorded once, at its frame's time since the first sample
    const auto sample = [&](int cell) {
        const RecordedSeries& s = series(cell);
        EXPECT_EQ(s.samples.size(), 1u) << cell;
        return std::pair{s.samples.time(0), s.samples.value(0)};
    };
    // (the status frame above arrived at time 0 and is the origin)
    EXPECT_EQ(m.recorder().originNs(), 0);
    EXPECT_EQ(sample(1000), std::pair(1.7e9, 96.5f));
    EXPECT_EQ(sample(1001), std::pair(1.7e9, 12.25f));
    EXPECT_EQ(sample(1133).second, 96.5f * 12.25f);  // the power cell, in W
    EXPECT_DOUBLE_EQ(sample(1028).first, 1.7e9 + 0.005);
    EXPECT_FLOAT_EQ(sample(1028).second, 36.0f);    // kph, not m/s
    EXPECT_FLOAT_EQ(sample(1030).second, 1.2345f);  // km, not m
    EXPECT_EQ(sample(1022).second, 3.5f);           // phase B is bytes 0-3
    EXPECT_EQ(sample(1007).second, -4.5f);
    EXPECT_EQ(series(1006).unit, "rpm");
    EXPECT_EQ(series(1018).samples.size(), 0u);  // nothing at 0x0B yet
}

TEST_F(Recording, MemoryIsBoundedAndTimesNeverGoBack) {
    TelemetryRecorder r(64);
    TelemetryValues v;
    for (int i = 0; i < 1000; ++i) {
        v.busVoltage = static_cast<float>(i);
        r.record(kT0 + i * kSecond / 100, 0x02, v, kTypeLargeController);
    }
    const RecordedSeries& s = *r.find(1000);
    ASSERT_EQ(s.samples.size(), 64u);
    EXPECT_EQ(s.total, 1000u);
    EXPECT_EQ(s.samples.value(0), 936.0f);  // the last 64, oldest first
    EXPECT_EQ(s.samples.value(63), 999.0f);
    EXPECT_DOUBLE_EQ(s.samples.time(0), 9.36);
    EXPECT_DOUBLE_EQ(s.samples.time(63), 9.99);
    EXPECT_LE(r.bytes(), readingCells().size() * 64 * 12);
    // A full ring stays at its size, however long it runs.
    const std::size_t bytes = r.bytes();
    for (int i = 0; i < 5000; ++i) r.record(kT0 + 10 * kSecond + i, 0x02, v, kTypeLargeController);
    EXPECT_EQ(r.bytes(), bytes);
    // The wall clock stepping back does not put a sample before the latest one.
    r.record(kT0 + 5 * kSecond, 0x02, v, kTypeLargeController);
    EXPECT_DOUBLE_EQ(s.samples.time(63), s.samples.time(62));
    EXPECT_EQ(s.samples.lowerBound(1e9), 64u);
    EXPECT_EQ(s.samples.lowerBound(s.samples.time(10)), 10u);
}

TEST_F(Recording, AnotherUnitOrAnotherDeviceStartsAfresh) {
    frame(kT0, 0x406, floats(2.0f, 3.0f));
    EXPECT_EQ(series(1017).unit, "A");
    // The isolated charger in charger mode shows the d current as a voltage.
    m.setSelectedDeviceType(kTypeIsolatedCharger);
    frame(kT0 + kSecond, 0x401, bytes({0, 0, 0, 0, 0, 0, 0, 0}));
    frame(kT0 + 2 * kSecond, 0x406, floats(4.0f, 50.0f));
    EXPECT_EQ(series(1017).unit, "V");
    EXPECT_EQ(series(1017).samples.size(), 1u);
    EXPECT_EQ(series(1025).unit, "%");
    // Selecting another device starts a new recording.
    frame(kT0, 0x200, identification("KX02", 6));
    m.selectRow(0);
    EXPECT_EQ(series(1017).samples.size(), 0u);
    EXPECT_EQ(m.recorder().originNs(), 0);
}

TEST_F(Recording, CaptionsUnitsAndLogNamesComeFromThePanel) {
    const std::int32_t large = kTypeLargeController, grid = kTypeGridTieCharger;
    const TelemetryPanel& p = m.panel();
    EXPECT_EQ(readingCaption(1007, p, large, 1), "RMS Current C");
    EXPECT_EQ(readingCaption(1022, p, large, 1), "RMS Current B");
    EXPECT_EQ(readingCaption(1013, p, large, 1), "1.9V Rails");
    EXPECT_EQ(readingCaption(1019, p, large, 1), "B Temp");
    EXPECT_EQ(readingCaption(1016, p, large, 1), "Out Voltage (q)");
    EXPECT_EQ(readingCaption(1023, p, large, 1), "Motor BEMF (q)");
    EXPECT_EQ(readingCaption(1178, p, large, 1), "CAN Err Cnt (R)");
    // Two units: the caption as it is, the unit tells them apart.
    EXPECT_EQ(readingCaption(1030, p, large, 1), "Odo / Bus Ah");
    EXPECT_EQ(readingUnit(1030, large, 1), "km");
    EXPECT_EQ(readingUnit(1018, large, 1),
              "\xC2\xB0"
              "C");
    EXPECT_EQ(readingUnit(1006, grid, 0), "Hz");
    EXPECT_EQ(readingUnit(1001, grid, 0), "");
    EXPECT_EQ(exportColumnNames({1000, 1007, 1028, 1133, 1018}, p, large, 1),
              (std::vector<std::string>{"Bus Voltage (V)", "pC Current (A)", "Velocity (kph)",
                                        "Controller Power (W)", "Motor Temp (C)"}));
    EXPECT_EQ(exportColumnNames({1001, 1006}, p, grid, 0),
              (std::vector<std::string>{"Grid OK (BOOL)", "Grid Frequency (Hz)"}));
}

TEST_F(Recording, CsvExportHasOneColumnPerSeriesAndOneRowPerTime) {
    frame(kT0, 0x402, floats(96.5f, 1.0f));                // t = 0
    frame(kT0 + 250'000'000, 0x403, floats(1500.25f, 0));  // t = 0.25
    frame(kT0 + 500'000'000, 0x402, floats(97.0f, 1.0f));  // t = 0.5
    frame(kT0 + 500'000'000, 0x403, floats(-12.5f, 0));    // same time, another message
    frame(kT0 + 750'000'000, 0x402, floats(98.0f, 1.0f));  // t = 0.75, outside the span
    const double t0 = series(1000).samples.time(0);
    const std::vector<int> cells = {1000, 1006};
    const auto names = exportColumnNames(cells, m.panel(), kTypeLargeController, 1);
    EXPECT_EQ(exportCsv(m.recorder(), cells, names, t0, t0 + 0.5),
              "Time (s),Bus Voltage (V),Motor RPM\n"
              "1700000000.000000,96.5,\n"
              "1700000000.250000,,1500.25\n"
              "1700000000.500000,97,-12.5\n");
    EXPECT_EQ(exportCsv(m.recorder(), cells, names, t0 + 2, t0 + 3),
              "Time (s),Bus Voltage (V),Motor RPM\n");
}

TEST(PlotSelection, TheSecondUnitGoesToTheRightAxis) {
    PlotSelection s;
    s.add(1006, "rpm");
    s.add(1001, "A");
    s.add(1007, "A");
    s.add(1000, "V");
    s.add(1028, "rpm");
    ASSERT_EQ(s.series().size(), 5u);
    EXPECT_EQ(s.axisUnits(PlotAxis::Left), "rpm");
    EXPECT_EQ(s.axisUnits(PlotAxis::Right), "A, V");
    s.setAxis(1000, PlotAxis::Left);
    s.remove(1006);
    EXPECT_EQ(s.axisUnits(PlotAxis::Left), "V, rpm");
    EXPECT_FALSE(s.contains(1006));
}

}  // namespace
}  // namespace qv
