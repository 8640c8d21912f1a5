#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "config/calibration_text.h"
#include "config/config_data_bank.h"
#include "config/text_scanner.h"
#include "config_test_support.h"
#include "distinct_fixture.h"

namespace qv {
namespace {

using test::val;

// The report of the fixture's private record, as the calibration sheet shows it: every line
// shows the value of its own field.
const char* const kFixtureReport =
    "Serial Nr,                       -1056969150\r\n"
    "Base Voltage (V),                      201.5\r\n"
    "Base Current (A),                      202.5\r\n"
    "Base Frequency (Hz),                   203.5\r\n"
    "Bus Capacitance (F),               1.234e-03\r\n"
    "Bus Over Voltage (V),                  205.5\r\n"
    "SW Over Current (A),                   206.5\r\n"
    "Check observer against halls,              3\r\n"
    "Engage motor speed (Hz),               207.5\r\n"
    "Disengage motor speed (Hz),            208.5\r\n"
    "\r\nAll reference & rail voltage are relative to a base voltage of 15V\r\n"
    "15V rail,                            2.25000,  -2.50000e-01\r\n"
    "1.9V rail,                           3.25000,  -3.75000e-01\r\n"
    "3.3V rail,                           4.25000,  -5.00000e-01\r\n"
    "\r\nAll bus dependant voltages are relative to base voltage\r\n"
    "Bus Voltage,                         5.25000,  -6.25000e-01\r\n"
    "PhaseC Voltage,                      6.25000,  -7.50000e-01\r\n"
    "PhaseB Voltage,                      7.25000,  -8.75000e-01\r\n"
    "PhaseA Voltage,                      8.25000,  -1.00000e+00\r\n"
    "Hall Voltage,                        1.25000,  -1.25000e-01\r\n"
    "ARCP rail,                           9.25000,  -1.12500e+00\r\n"
    "\r\nAll motor dependant currents are relative to base current\r\n"
    "Bus Current,                        10.25000,  -1.25000e+00\r\n"
    "PhaseC Current,                     11.25000,  -1.37500e+00\r\n"
    "PhaseB Current,                     12.25000,  -1.50000e+00\r\n"
    "PhaseA Current,                     13.25000,  -1.62500e+00\r\n"
    "Over Current Set Point,             14.25000,  -1.75000e+00\r\n"
    "\r\nAll temperatures are relative to a base temperature of 100C\r\n"
    "DSP temp,                           15.25000,  -1.87500e+00\r\n"
    "   1.10050e+03,   1.20050e+03,   1.30050e+03,   1.40050e+03\r\n"
    "Phase C temp,                       16.25000,  -2.00000e+00\r\n"
    "   2.10050e+03,   2.20050e+03,   2.30050e+03,   2.40050e+03\r\n"
    "Capacitor temp,                     17.25000,  -2.12500e+00\r\n"
    "   3.10050e+03,   3.20050e+03,   3.30050e+03,   3.40050e+03\r\n"
    "Phase B temp,                       18.25000,  -2.25000e+00\r\n"
    "   4.10050e+03,   4.20050e+03,   4.30050e+03,   4.40050e+03\r\n"
    "Phase A temp,                       19.25000,  -2.37500e+00\r\n"
    "   5.10050e+03,   5.20050e+03,   5.30050e+03,   5.40050e+03\r\n"
    "\r\nController gain factors\r\n"
    "Controller Kp Factor,              2.375e+00\r\n"
    "Controller Ki Factor,              6.250e-01\r\n";

PrivateConfig fixturePrivate() {
    CConfigDataBank s;
    test::fillDistinct(s);
    return s.privateConfig;
}

// What a value becomes after being printed with `format` and read back.
float printedAndRead(const char* format, float v) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<double>(v));
    return std::strtof(text, nullptr);
}

bool sameBytes(const PrivateConfig& a, const PrivateConfig& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(CalibrationReport, EveryLineCarriesItsOwnFieldBothWays) {
    const PrivateConfig fixture = fixturePrivate();
    EXPECT_EQ(buildCalibrationReport(fixture, false), kFixtureReport);

    // Read over the defaults, the sheet gives back every field but the checksum.
    PrivateConfig read = defaultPrivateConfig();
    EXPECT_EQ(readCalibrationReport(kFixtureReport, read), 70u);
    read.checksum = fixture.checksum;
    EXPECT_TRUE(sameBytes(read, fixture));
}

TEST(CalibrationReport, IsolatedChargerRenamesThreeLinesOnly) {
    PrivateConfig c = fixturePrivate();
    std::string expected = kFixtureReport;
    for (auto [from, to] : {std::pair{"PhaseC Voltage, ", "Output Voltage, "},
                            std::pair{"PhaseB Voltage,  ", "Snubber Voltage, "},
                            std::pair{"Bus Current,    ", "Output Current, "}})
        expected.replace(expected.find(from), std::strlen(from), to);
    const std::string report = buildCalibrationReport(c, true);
    EXPECT_EQ(report, expected);
    EXPECT_TRUE(usesIsolatedChargerLabels(0x4000));
    EXPECT_FALSE(usesIsolatedChargerLabels(0x4001));

    // The renamed line still feeds the phase C voltage channel.
    std::string edited = report;
    const std::size_t at = edited.find("Output Voltage,");
    edited.replace(edited.find("6.25000", at), 7, "3.50000");
    EXPECT_EQ(readCalibrationReport(edited, c), 70u);
    EXPECT_EQ(val(c.phaseCVoltage.gain), 3.5f);
    EXPECT_EQ(val(c.phaseBVoltage.gain), 7.25f);
}

TEST(CalibrationReport, RoundTripChangesOnlyByThePrintedRounding) {
    PrivateConfig original = defaultPrivateConfig();
    original.serialNumber = 0xFFFFFFF0u;  // printed signed, read back to the same bits
    original.baseVoltage = 1000.04f;
    original.busCapacitance = 0.00123456f;
    original.rail15V = {2.123456f, -1.234567e-3f};
    original.dspTempCoeff[2] = 6.02e23f;
    original.checkObserverAgainstHalls = 0;
    original.controllerKpFactor = 1.23456f;

    PrivateConfig read = original;
    std::memset(&read, 0, sizeof read);
    EXPECT_EQ(readCalibrationReport(buildCalibrationReport(original, false), read), 70u);

    EXPECT_EQ(val(read.checksum), 0);  // not part of the report
    EXPECT_EQ(val(read.serialNumber), 0xFFFFFFF0u);
    EXPECT_EQ(val(read.baseVoltage), 1000.0f);
    EXPECT_EQ(val(read.busCapacitance), 1.235e-3f);
    EXPECT_EQ(val(read.controllerKpFactor), 1.235f);
    EXPECT_EQ(val(read.rail15V.gain), printedAndRead("%14.5f", 2.123456f));
    EXPECT_EQ(val(read.rail15V.offset), -1.23457e-3f);
    EXPECT_EQ(val(read.dspTempCoeff[2]), 6.02000e23f);
    EXPECT_EQ(val(read.checkObserverAgainstHalls), 0);
    EXPECT_EQ(val(read.phaseATempCoeff[1]), 4096.0f);
    EXPECT_EQ(val(read.hallVoltage.gain), printedAndRead("%14.5f", 1.0257272f));

    // A second round changes nothing more.
    PrivateConfig again = read;
    readCalibrationReport(buildCalibrationReport(read, false), again);
    EXPECT_TRUE(sameBytes(read, again));
}

TEST(CalibrationReport, ScanStopsAtTheFirstMismatchAndKeepsLaterFields) {
    PrivateConfig source = defaultPrivateConfig();
    source.serialNumber = 42;
    source.swOverCurrent = 321.0f;
    source.checkObserverAgainstHalls = 0;
    const std::string report = buildCalibrationReport(source, false);

    // Everything after the "SW Over Current (A)," line deleted.
    const std::string cut = report.substr(0, report.find("Check observer"));
    PrivateConfig c = defaultPrivateConfig();
    c.engageMotorSpeed = 9.0f;
    EXPECT_EQ(readCalibrationReport(cut, c), 7u);
    EXPECT_EQ(val(c.serialNumber), 42u);
    EXPECT_EQ(val(c.swOverCurrent), 321.0f);
    EXPECT_EQ(val(c.checkObserverAgainstHalls), 1);
    EXPECT_EQ(val(c.engageMotorSpeed), 9.0f);

    // Only a serial number.
    PrivateConfig d = defaultPrivateConfig();
    EXPECT_EQ(readCalibrationReport("Serial Nr,123456", d), 1u);
    PrivateConfig expected = defaultPrivateConfig();
    expected.serialNumber = 123456;
    EXPECT_TRUE(sameBytes(d, expected));
    // A serial number written without sign keeps its 32 bits, as its signed print does.
    EXPECT_EQ(readCalibrationReport("Serial Nr, 3000000000", d), 1u);
    EXPECT_EQ(val(d.serialNumber), 3000000000u);
    EXPECT_EQ(readCalibrationReport("Serial Nr, -1294967296", d), 1u);
    EXPECT_EQ(val(d.serialNumber), 3000000000u);

    // A gain followed by a space before its comma: the gain is stored, the scan stops there.
    std::string spaced = report;
    spaced.replace(spaced.find("2.20000,"), 8, "7.5 ,");
    PrivateConfig e = defaultPrivateConfig();
    e.rail15V.offset = 5.0f;
    EXPECT_EQ(readCalibrationReport(spaced, e), 11u);
    EXPECT_EQ(val(e.rail15V.gain), 7.5f);
    EXPECT_EQ(val(e.rail15V.offset), 5.0f);
    EXPECT_EQ(val(e.rail1V9.gain), 0.2f);

    // A label that is empty (the comma comes first) matches nothing at all.
    PrivateConfig f = defaultPrivateConfig();
    EXPECT_EQ(readCalibrationReport(",5", f), 0u);
    EXPECT_EQ(readCalibrationReport("", f), 0u);
}

TEST(CalibrationReport, SingleSpacesReadTheSameAsColumns) {
    PrivateConfig source = defaultPrivateConfig();
    source.serialNumber = 98765;
    source.phaseBTemp = {0.5f, 2.5e-2f};
    const std::string report = buildCalibrationReport(source, false);
    std::string compact;
    for (std::size_t i = 0; i < report.size(); ++i)
        if (!(report[i] == ' ' && i > 0 && report[i - 1] == ' ')) compact += report[i];
    ASSERT_NE(compact.find("Serial Nr, 98765\r\n"), std::string::npos);
    ASSERT_NE(compact.find("Phase B temp, 0.50000, 2.50000e-02\r\n"), std::string::npos);

    PrivateConfig fromColumns{}, fromSpaces{};
    EXPECT_EQ(readCalibrationReport(report, fromColumns), 70u);
    EXPECT_EQ(readCalibrationReport(compact, fromSpaces), 70u);
    EXPECT_TRUE(sameBytes(fromColumns, fromSpaces));
    EXPECT_EQ(val(fromSpaces.phaseBTemp.offset), 2.5e-2f);
}

TEST(TextScanner, FloatsFollowScanfRules) {
    struct Case {
        const char* text;
        bool ok;
        float value;
        std::size_t end;  // position after a successful scan
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"  1e5,", true, 1e5f, 5},    {"-2.5x", true, -2.5f, 4}, {"+.5", true, 0.5f, 3},
        {"1.", true, 1.0f, 2},        {"\r\n 7", true, 7.0f, 4}, {"1.5.3", true, 1.5f, 3},
        {"0x1.8p3,", true, 12.0f, 7}, {"inf,", true, inf, 3},    {"-INFINITY", true, -inf, 9},
        {"infx", true, inf, 3},       {"1e999", true, inf, 5},   {"-1e999", true, -inf, 6},
        {"1e-999", true, 0.0f, 6},    {"0x1p999", true, inf, 7}, {"1e", false, 0, 0},
        {"1e+,", false, 0, 0},        {"-", false, 0, 0},        {".", false, 0, 0},
        {"infin", false, 0, 0},       {"in", false, 0, 0},       {"0x", false, 0, 0},
        {"0xg", false, 0, 0},         {"nan(abc", false, 0, 0},  {"", false, 0, 0},
        {",1", false, 0, 0},          {"   ", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TextScanner scan(c.text);
        const auto v = scan.scanFloat();
        ASSERT_EQ(v.has_value(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(*v, c.value);
        EXPECT_EQ(std::signbit(*v), std::signbit(c.value));
        EXPECT_EQ(scan.position(), c.end);
        // Where the C library and the standard agree, the library reads the same value.
        float libc = 0;
        if (std::sscanf(c.text, "%f", &libc) == 1) {
            EXPECT_EQ(libc, *v);
        }
    }
    for (const char* nan : {"nan", "NaN(12_ab)", "-nan"}) {
        TextScanner scan(nan);
        const auto v = scan.scanFloat();
        ASSERT_TRUE(v.has_value()) << nan;
        EXPECT_TRUE(std::isnan(*v));
        EXPECT_EQ(std::signbit(*v), nan[0] == '-');
        EXPECT_EQ(scan.position(), std::strlen(nan));
    }
}

TEST(TextScanner, IntegersWrapToThirtyTwoBitsAndTheTextIsBounded) {
    EXPECT_EQ(TextScanner(" -42,").scanInt(), -42);
    EXPECT_EQ(TextScanner("+7").scanInt(), 7);
    EXPECT_EQ(TextScanner("2147483647").scanInt(), INT_MAX);
    EXPECT_EQ(TextScanner("2147483648").scanInt(), INT_MIN);
    EXPECT_EQ(TextScanner("-2147483648").scanInt(), INT_MIN);
    EXPECT_EQ(TextScanner("4294967295").scanInt(), -1);
    EXPECT_EQ(TextScanner("4294967296").scanInt(), 0);
    // Any number of digits, modulo 2^32.
    EXPECT_EQ(TextScanner("99999999999999999999").scanInt(), 1661992959);
    EXPECT_EQ(TextScanner("-99999999999").scanInt(), -1215752191);
    EXPECT_FALSE(TextScanner("- 1").scanInt().has_value());
    EXPECT_FALSE(TextScanner("x").scanInt().has_value());

    // The view ends where it ends, even when more digits follow in memory.
    const std::string digits = "12345";
    EXPECT_EQ(TextScanner(std::string_view(digits).substr(0, 2)).scanInt(), 12);
    EXPECT_EQ(TextScanner(std::string_view(digits).substr(0, 2)).scanFloat(), 12.0f);
    // A NUL ends the text as it would end a C string.
    const std::string withNul("Serial Nr,\0 5", 13);
    TextScanner scan(withNul);
    EXPECT_TRUE(scan.skipToComma());
    EXPECT_TRUE(scan.literal(','));
    EXPECT_FALSE(scan.scanInt().has_value());

    // "%*[^,]" needs at least one character before the comma.
    TextScanner empty(",x");
    EXPECT_FALSE(empty.skipToComma());
    TextScanner none("");
    EXPECT_FALSE(none.skipToComma());
}

}  // namespace
}  // namespace qv
