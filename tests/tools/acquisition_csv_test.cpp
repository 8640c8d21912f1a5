#include "tools/acquisition_csv.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "support/fifo.h"
#include "support/process.h"
#include "tool_fixtures.h"
#include "tools/pm_analysis.h"

namespace qv {
namespace {

using test::TempFolder;

PhaseRecording distinctRecording() {
    test::MotorSpec m;
    m.sensorMode = 3;
    m.hallsPresent = 1;
    PhaseRecording r = test::makePhaseRecording(m);
    r.calibration.baseVoltage = 123.456789012345;
    return r;
}

PmRecording pmRecording() {
    PmRecording r;
    r.baseVoltage = 100;
    r.baseCurrent = 327.68;
    r.n1 = 3;
    r.n2 = 4;
    r.s = 10000;
    // (1 V, 10 A), (2 V, 20 A), (3 V, 30 A) in counts of 100/32768 V and 0.01 A.
    r.frames = {{2000, 655, 1000, 328}, {0, 0, 3000, 983}, {1637, 4, 2000, 0}, {1097, 12, 1341, 8}};
    return r;
}

TEST(AcquisitionCsv, PhaseFileRoundTripsAndStartsWithItsHeaders) {
    const PhaseRecording r = distinctRecording();
    const std::string text = formatPhaseCsv(r);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "sensor_mode,halls_present,base_voltage,phaseA_gain,phaseA_offset,phaseB_gain,"
              "phaseB_offset,phaseC_gain,phaseC_offset");
    EXPECT_NE(text.find("\nhall,position,r1,r2,r3\n"), std::string::npos);
    const auto back = parsePhaseCsv(text);
    ASSERT_TRUE(back.value.has_value()) << back.error;
    EXPECT_EQ(back.value->sensorMode, 3);
    EXPECT_EQ(back.value->hallsPresent, 1);
    EXPECT_EQ(back.value->calibration.baseVoltage, r.calibration.baseVoltage);
    EXPECT_EQ(back.value->calibration.phaseA.gain, r.calibration.phaseA.gain);
    EXPECT_EQ(back.value->calibration.phaseA.offset, r.calibration.phaseA.offset);
    EXPECT_EQ(back.value->calibration.phaseB.gain, r.calibration.phaseB.gain);
    EXPECT_EQ(back.value->calibration.phaseB.offset, r.calibration.phaseB.offset);
    EXPECT_EQ(back.value->calibration.phaseC.gain, r.calibration.phaseC.gain);
    EXPECT_EQ(back.value->calibration.phaseC.offset, r.calibration.phaseC.offset);
    EXPECT_EQ(back.value->samples, r.samples);
    // CR LF line ends read the same.
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(parsePhaseCsv(crlf).value->samples, r.samples);
}

TEST(AcquisitionCsv, PmFileRoundTrips) {
    const PmRecording r = pmRecording();
    const std::string text = formatPmCsv(r);
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1)),
              "base_voltage,base_current,N1,N2,S\n100,327.68000000000001,3,4,10000");
    const auto back = parsePmCsv(text);
    ASSERT_TRUE(back.value.has_value()) << back.error;
    EXPECT_EQ(back.value->baseCurrent, 327.68);
    EXPECT_EQ(back.value->n1, 3);
    EXPECT_EQ(back.value->n2, 4);
    EXPECT_EQ(back.value->s, 10000);
    EXPECT_EQ(back.value->frames, r.frames);
}

std::string phaseHead() {
    return "sensor_mode,halls_present,base_voltage,phaseA_gain,phaseA_offset,phaseB_gain,"
           "phaseB_offset,phaseC_gain,phaseC_offset\n1,1,100,1,0,1,0,1,0\nhall,position,r1,r2,"
           "r3\n";
}

std::string phaseError(const std::string& text) {
    const auto p = parsePhaseCsv(text);
    EXPECT_FALSE(p.value.has_value());
    return p.error;
}

TEST(AcquisitionCsv, BadPhaseFilesNameTheLine) {
    EXPECT_EQ(phaseError(""),
              "line 1: missing: expected \"sensor_mode,halls_present,base_voltage,phaseA_gain,"
              "phaseA_offset,phaseB_gain,phaseB_offset,phaseC_gain,phaseC_offset\"");
    EXPECT_EQ(phaseError(phaseHead()), "line 4: missing: the file holds no samples");
    EXPECT_EQ(phaseError(phaseHead() + "1,8,1,2,3\n9,0,1,2,3\n"),
              "line 5: hall 9 is not between 0 and 7");
    EXPECT_EQ(phaseError(phaseHead() + "1,12,1,2,3\n"),
              "line 4: position 12 is not a multiple of 8");
    EXPECT_EQ(phaseError(phaseHead() + "1,8,1,x2,3\n"), "line 4: r2 \"x2\" is not a whole number");
    EXPECT_EQ(phaseError(phaseHead() + "1,8,1,2,65536\n"),
              "line 4: r3 65536 is not between 0 and 65535");
    EXPECT_EQ(phaseError(phaseHead() + "1,8,1,2\n"),
              "line 4: 4 fields where the sample line has 5");
    EXPECT_EQ(phaseError(phaseHead() + "1,8,-1,2,3\n"), "line 4: r1 -1 is not between 0 and 65535");
    std::string head = phaseHead();
    head.replace(head.find("1,1,100"), 7, "1,1,inf");
    EXPECT_EQ(phaseError(head + "1,8,1,2,3\n"),
              "line 2: base_voltage \"inf\" is not a finite number");
    EXPECT_EQ(phaseError("sensor_mode\n"),
              "line 1: expected \"sensor_mode,halls_present,base_voltage,phaseA_gain,"
              "phaseA_offset,phaseB_gain,phaseB_offset,phaseC_gain,phaseC_offset\", found "
              "\"sensor_mode\"");
    std::string many = phaseHead();
    for (int i = 0; i < 501; ++i) many += "1,8,1,2,3\n";
    EXPECT_EQ(phaseError(many), "line 504: more than 500 samples");
    EXPECT_EQ(phaseError(std::string(kMaxAcquisitionCsvBytes + 1, '1')),
              "the file is larger than 1048576 bytes");
}

std::string pmError(const std::string& text) {
    const auto p = parsePmCsv(text);
    EXPECT_FALSE(p.value.has_value());
    return p.error;
}

TEST(AcquisitionCsv, BadPmFilesNameTheLine) {
    const std::string head = "base_voltage,base_current,N1,N2,S\n";
    const std::string columns = "word0,word1,word2,word3\n";
    EXPECT_EQ(pmError(head + "100,300,3,4,1000\n" + columns + "1,2,3,4\n"),
              "line 5: missing: N1 3 and N2 4 call for 4 data lines, the file has 1");
    EXPECT_EQ(pmError(head + "100,300,1,1,1000\n" + columns + "1,2,3,4\n1,2,3,4\n5,6,7,8\n"),
              "line 6: more data lines than N1 1 and N2 1 call for (2)");
    EXPECT_EQ(pmError(head + "100,300,31,4,1000\n" + columns),
              "line 2: N1 31 is not between 1 and 30");
    EXPECT_EQ(pmError(head + "100,300,3,4,0\n" + columns),
              "line 2: S 0 is not between 1 and 32767");
    EXPECT_EQ(pmError(head + "100,300,1,1,1000\n" + columns + "1,2,3,4\n1,2,40000,4\n"),
              "line 5: word2 40000 is not between -32768 and 32767");
    EXPECT_EQ(pmError(head + "100,abc,1,1,1000\n"),
              "line 2: base_current \"abc\" is not a finite number");
    EXPECT_EQ(pmError(head), "line 2: missing: the file ends before its settings line");
}

TEST(AcquisitionCsv, FailedWriteLeavesTheOldFile) {
    TempFolder folder;
    const std::string path = folder.file("old.csv", "kept\n");
    std::string error;
    EXPECT_FALSE(writeTextFile((folder.path() / "no" / "such.csv").string(), "x", &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
    EXPECT_EQ(*readTextFile(path, 100, &error), "kept\n");
    EXPECT_FALSE(readTextFile(path, 4, &error).has_value());
    EXPECT_FALSE(readTextFile((folder.path() / "missing.csv").string(), 100, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);

    // A named pipe is neither waited on nor replaced by the save.
    test::Fifo fifo;
    std::string readError;
    EXPECT_TRUE(fifo.returnsAtOnce([&] {
        EXPECT_FALSE(writeTextFile(fifo.path(), "x", &error));
        EXPECT_FALSE(readTextFile(fifo.path(), 100, &readError));
    }));
    const std::string notRegular =
        fifo.path() + ": not a regular file (a named pipe, a device, a socket or a folder)";
    EXPECT_EQ(error, "cannot write " + notRegular);
    EXPECT_EQ(readError, "cannot open " + notRegular);
    EXPECT_TRUE(fifo.stillAPipe());
}

#ifdef QV_CLI_PATH

TEST(QvcliAnalysePhases, PrintsTextVerdictAndListForAGoodFile) {
    TempFolder folder;
    test::MotorSpec m;
    const std::string path = folder.file("phases.csv", formatPhaseCsv(test::makePhaseRecording(m)));
    const auto r = test::runProcess(QV_CLI_PATH, {"analyse-phases", path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const PhaseReport expected = analysePhases(test::makePhaseRecording(m));
    std::string out =
        "All line to line voltages have been successfully acquired\n\n"
        "Phase allocation to the controller is : \nI) A\nII) B\nIII) C\nSUCCESS\n";
    for (const auto& line : expected.list) out += line + "\n";
    EXPECT_EQ(r.out, out);
    EXPECT_NE(r.out.find("360\xC2\xB0 000=>000\n"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
}

TEST(QvcliAnalysePhases, FailuresExitOne) {
    TempFolder folder;
    test::MotorSpec m;
    m.sensorMode = 7;
    auto r = test::runProcess(
        QV_CLI_PATH,
        {"analyse-phases", folder.file("mode7.csv", formatPhaseCsv(test::makePhaseRecording(m)))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("III) C\nFAILED\n"), std::string::npos);
    // A voltage analysis failure: its text on stderr, the verdict FAILED alone on stdout.
    PhaseRecording flat = test::makePhaseRecording({});
    for (auto& s : flat.samples) s.r2 = s.r3;
    r = test::runProcess(QV_CLI_PATH,
                         {"analyse-phases", folder.file("flat.csv", formatPhaseCsv(flat))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "FAILED\n");
    EXPECT_EQ(r.err,
              "An error occurred when attempting to find the positive going zero crossing of "
              "line to line voltage AB\n");
    const std::string bad = folder.file("bad.csv", phaseHead() + "1,8,1,2,3\n8,8,1,2,3\n");
    r = test::runProcess(QV_CLI_PATH, {"analyse-phases", bad});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "qvcli analyse-phases: " + bad + ": line 5: hall 8 is not between 0 and 7\n");
    EXPECT_TRUE(r.out.empty());
    r = test::runProcess(QV_CLI_PATH, {"analyse-phases"});
    EXPECT_EQ(r.exitCode, 2);
    r = test::runProcess(QV_CLI_PATH, {"analyse-phases", (folder.path() / "none.csv").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);
}

// Every command that reads a file the user names refuses a named pipe at once.
TEST(Qvcli, FileArgumentsThatAreNamedPipesAreRefusedAtOnce) {
    test::Fifo fifo;
    const std::string& p = fifo.path();
    const std::vector<std::vector<std::string>> commands{
        {"analyse-phases", p}, {"fit-pm", p},  {"fit-im", "--mode", "1", p},
        {"dump", p},           {"diff", p, p}, {"upload", p, "--interface", "127.0.0.1"}};
    for (const auto& args : commands) {
        const auto r = test::runProcess(QV_CLI_PATH, args, 5000);
        EXPECT_EQ(r.exitCode, args[0] == "diff" ? 2 : 1) << args[0] << ": " << r.err;
        EXPECT_TRUE(r.err.find("not a regular file") != std::string::npos ||
                    r.err.find("The file could not be accessed") != std::string::npos)
            << args[0] << ": " << r.err;
    }
    EXPECT_TRUE(fifo.stillAPipe());
}

TEST(QvcliFitPm, PrintsLogResistanceAndInductance) {
    TempFolder folder;
    const PmRecording rec = pmRecording();
    const auto r =
        test::runProcess(QV_CLI_PATH, {"fit-pm", folder.file("pm.csv", formatPmCsv(rec))});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const PmReport report = analysePm(rec);
    std::string log;
    for (char c : report.log)
        if (c != '\r') log += c;
    EXPECT_EQ(r.out, log + report.resistanceText + "\n" + report.inductanceText + "\n");
    EXPECT_EQ(r.out.substr(0, 22), "3, 4\nResistance Acq\n1.");
    EXPECT_NE(r.out.find("\n50.0mR\n"), std::string::npos);
}

TEST(QvcliFitPm, UnusableFitsAndBadFilesExitOne) {
    TempFolder folder;
    PmRecording rec = pmRecording();
    rec.frames[0] = {1000, 328, 2000, 328};
    rec.frames[1] = {0, 0, 3000, 328};
    auto r = test::runProcess(QV_CLI_PATH, {"fit-pm", folder.file("flat.csv", formatPmCsv(rec))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("not usable\nnot usable\n"), std::string::npos);
    EXPECT_NE(r.err.find("no usable resistance"), std::string::npos);
    const std::string bad = folder.file("short.csv", "base_voltage,base_current,N1,N2,S\n");
    r = test::runProcess(QV_CLI_PATH, {"fit-pm", bad});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "qvcli fit-pm: " + bad +
                         ": line 2: missing: the file ends before its settings line\n");
}

#endif

}  // namespace
}  // namespace qv
