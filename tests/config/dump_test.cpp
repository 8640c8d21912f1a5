#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "config/config_dump.h"
#include "config/config_file.h"
#include "config_test_support.h"
#include "distinct_fixture.h"

namespace qv {
namespace {

std::map<std::string, std::string> parseListing(const std::string& listing) {
    std::map<std::string, std::string> fields;
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find(" = ");
        EXPECT_NE(eq, std::string::npos) << line;
        if (eq == std::string::npos) continue;
        EXPECT_TRUE(fields.emplace(line.substr(0, eq), line.substr(eq + 3)).second) << line;
    }
    return fields;
}

TEST(ConfigDump, FieldTablesCoverEveryRecordByteOnce) {
    struct Record {
        std::span<const FieldInfo> fields;
        std::size_t size;
    };
    for (const Record& r : {Record{recordFields(StructureKind::Public), kPublicSize},
                            Record{recordFields(StructureKind::Private), kPrivateSize},
                            Record{recordFields(StructureKind::Motor), kMotorSize},
                            Record{readOnlyFields(), kReadOnlySize}}) {
        std::size_t next = 0;
        for (const FieldInfo& f : r.fields) {
            EXPECT_EQ(f.offset, next) << f.name;
            next = f.offset + fieldSize(f);
        }
        EXPECT_EQ(next, r.size);
    }
}

TEST(ConfigDump, ListsEveryFieldOnceWithExactValues) {
    CConfigDataBank s;
    test::fillDistinct(s);
    s.motor[3].hallAngle[2] = 0.1f;
    s.privateConfig.rail15V.offset = -3.4028235e38f;
    setDescription(s.motor[1], "Tab\there \"q\" \xB0");
    const ConfigFileInfo header{200, 66, 280, 150, 8};
    const std::string listing = dumpConfig(s, header);
    const auto fields = parseListing(listing);

    // 18 public, 2 + 5 + 19 * 2 + 5 * 4 + 6 private, 10 * (27 + 14) motor, 3 read-only, 6 file.
    EXPECT_EQ(fields.size(), 18u + 71u + 410u + 3u + 6u);
    EXPECT_EQ(listing.find("not in file"), std::string::npos);
    EXPECT_EQ(fields.at("public.activeMotor"), "7");
    EXPECT_EQ(fields.at("public.canBaudIndex"), "2");
    EXPECT_EQ(fields.at("public.canBaseAddress"), "0x2E0");
    EXPECT_EQ(fields.at("public.driverControlsBaseAddress"), "0x6A0");
    EXPECT_EQ(fields.at("public.telemetryMask"), "0x8BADF00D");
    EXPECT_EQ(fields.at("public.bmsMasterCanId"), "0x1A0");
    EXPECT_EQ(fields.at("public.sixStepCurrentLimit"), "110.5");
    EXPECT_EQ(fields.at("private.serialNumber"), "3237998146");
    EXPECT_EQ(fields.at("private.arcpRail.gain"), "9.25");
    EXPECT_EQ(fields.at("private.arcpRail.offset"), "-1.125");
    EXPECT_EQ(fields.at("private.capacitorTempCoeff[1]"), "3200.5");
    EXPECT_EQ(fields.at("private.checkObserverAgainstHalls"), "3");
    EXPECT_EQ(fields.at("private.controllerKiFactor"), "0.625");
    EXPECT_EQ(fields.at("motor[6].polePairs"), "600");
    EXPECT_EQ(fields.at("motor[7].hallAngle[5]"), "725.5");
    EXPECT_EQ(fields.at("motor[7].hallPrevious[3]"), "733");
    EXPECT_EQ(fields.at("motor[8].encoderReversed"), "849");
    EXPECT_EQ(fields.at("motor[9].description"), "\"Fixture motor 9\"");
    EXPECT_EQ(fields.at("motor[1].description"), "\"Tab\\x09here \\\"q\\\" \\xB0\"");
    EXPECT_EQ(fields.at("readOnly.firmwareVersion"), "251");
    EXPECT_EQ(fields.at("readOnly.dspHardwareVersion"), "7");
    EXPECT_EQ(fields.at("readOnly.firmwareBuild"), "987654");
    EXPECT_EQ(fields.at("file.version"), "200");
    EXPECT_EQ(fields.at("file.olderVersion"), "no");
    EXPECT_EQ(fields.at("file.trailerLength"), "8");
    // Floats read back to the same value.
    EXPECT_EQ(std::strtof(fields.at("motor[3].hallAngle[2]").c_str(), nullptr), 0.1f);
    EXPECT_EQ(std::strtof(fields.at("private.rail15V.offset").c_str(), nullptr), -3.4028235e38f);
    // The same store lists the same way every time.
    EXPECT_EQ(dumpConfig(s, header), listing);
}

TEST(ConfigDump, FieldsAnOlderFileDoesNotCarryAreMarked) {
    // Given an older file with shorter records and trailer, loaded over the defaults
    CConfigDataBank s;
    s.resetToDefaults();
    test::ScriptedInteraction ui({MessageAnswer::Yes});
    ConfigFileInfo header;
    ASSERT_TRUE(loadConfigData(s,
                               test::handBuiltFile({.version = 150,
                                                    .publicSize = 60,
                                                    .privateSize = 268,
                                                    .motorSize = 147,
                                                    .trailerLength = 4}),
                               ui, true, true, {}, &header));
    const auto fields = parseListing(dumpConfig(s, header));

    // Fields wholly in the file show the file's values, the others what the store holds
    // (here the defaults), marked. A field the file cuts through holds bytes of both.
    const std::map<std::string, std::string> expected = {
        {"public.sixStepCurrentLimit", "110.5"},
        {"public.bmsMasterCanId", "0x260 (not in file)"},
        {"public.listenForBms", "0 (not in file)"},
        {"private.engageMotorSpeed", "207.5"},
        {"private.disengageMotorSpeed", "1.75 (not in file)"},
        {"private.controllerKpFactor", "2 (not in file)"},
        {"private.controllerKiFactor", "0.5 (not in file)"},
        {"motor[0].maxId", "47.5"},
        {"motor[0].encoderCount", "1840 (not in file)"},  // 0x07 of 2000, 0x30 of 48
        {"motor[9].encoderReversed", "0 (not in file)"},
        {"readOnly.dspHardwareVersion", "7"},
        {"readOnly.firmwareBuild", "0 (not in file)"},
        {"file.motorSize", "147"},
        {"file.trailerLength", "4"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(fields.at(name), value) << name;
    std::size_t marked = 0;
    for (const auto& [name, value] : fields) marked += value.ends_with(" (not in file)");
    EXPECT_EQ(marked, 2u + 3u + 2u * kMotorCount + 1u);
}

#ifdef QV_CLI_PATH
struct CliRun {
    int status;
    std::string out;
};

CliRun runCli(const std::string& arguments, const std::string& errFile) {
    const std::string command = std::string(QV_CLI_PATH) + " dump " + arguments + " 2>" + errFile;
    CliRun r{-1, {}};
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string text(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(QvcliDump, ListsFilesDefaultsAndReportsBadInput) {
    test::TempDir dir;
    const std::string err = dir.file("err.txt");

    const CliRun defaults = runCli("--defaults", err);
    EXPECT_EQ(defaults.status, 0);
    EXPECT_NE(defaults.out.find("\nmotor[3].polePairs = 20\n"), std::string::npos);

    // A saved file of the defaults lists exactly like the defaults.
    CConfigDataBank s;
    s.resetToDefaults();
    test::ScriptedInteraction ui;
    ASSERT_TRUE(saveConfigFile(s, dir.file("d.cfg"), ui));
    const CliRun saved = runCli(dir.file("d.cfg"), err);
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.out, defaults.out);

    // An older file still lists, and says so.
    std::vector<std::uint8_t> old = test::readFile(dir.file("d.cfg"));
    test::putU16(old, 26, 150);
    test::writeFile(dir.file("old.cfg"), old);
    const CliRun older = runCli(dir.file("old.cfg"), err);
    EXPECT_EQ(older.status, 0);
    EXPECT_NE(older.out.find("file.version = 150\nfile.olderVersion = yes\n"), std::string::npos);
    EXPECT_NE(text(test::readFile(err)).find("From: 1.50."), std::string::npos);

    // Shorter records: the fields the file lacks are marked.
    test::writeFile(dir.file("short.cfg"), test::handBuiltFile({.version = 150, .motorSize = 146}));
    const CliRun shorter = runCli(dir.file("short.cfg"), err);
    EXPECT_EQ(shorter.status, 0);
    EXPECT_NE(shorter.out.find("\nmotor[4].maxId = 447.5\nmotor[4].encoderCount = 2000 (not in "
                               "file)\nmotor[4].encoderReversed = 0 (not in file)\n"),
              std::string::npos);

    // A damaged file: exit 1 with the loader's message on stderr and nothing listed.
    old[200] ^= 0xFF;
    test::writeFile(dir.file("bad.cfg"), old);
    const CliRun bad = runCli(dir.file("bad.cfg"), err);
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_NE(text(test::readFile(err)).find("Config check sum does not match"), std::string::npos);

    EXPECT_EQ(runCli("", err).status, 2);
    EXPECT_EQ(runCli("a.cfg b.cfg", err).status, 2);
    EXPECT_EQ(runCli("--defaults a.cfg", err).status, 2);
    EXPECT_EQ(runCli("--bogus", err).status, 2);
}
#endif

}  // namespace
}  // namespace qv
