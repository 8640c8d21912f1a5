#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "config/config_file.h"
#include "config/file_errors.h"
#include "config_test_support.h"

namespace qv {
namespace {

using test::val;

using test::ScriptedInteraction;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kMotorStart = 34 + 66 + 280;
constexpr std::size_t kTrailerAt = kMotorStart + 1500;

// Everything a load could change, for "untouched" checks.
struct Snapshot {
    Bytes records;
    std::array<bool, 6> flags{};
    std::uint16_t held = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const CConfigDataBank& s) {
    Snapshot r;
    for (auto k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        for (std::size_t i = 0; i < recordCount(k); ++i) {
            const auto b = s.recordBytes(k, i);
            r.records.insert(r.records.end(), b.begin(), b.end());
        }
    const auto* ro = reinterpret_cast<const std::uint8_t*>(&s.readOnly);
    r.records.insert(r.records.end(), ro, ro + 8);
    r.flags = {s.isValid(StructureKind::Public),     s.isValid(StructureKind::Private),
               s.isValid(StructureKind::Motor),      s.isModified(StructureKind::Public),
               s.isModified(StructureKind::Private), s.isModified(StructureKind::Motor)};
    r.held = s.heldVersion;
    return r;
}

// A valid file from a store holding distinctive values.
Bytes sampleFile() {
    CConfigDataBank s;
    s.resetToDefaults();
    s.publicConfig.activeMotor = 3;
    s.privateConfig.serialNumber = 123456;
    s.motor[9].polePairs = 7;
    s.readOnly = {123, 4, 56789};
    return buildConfigFile(s);
}

void fixChecksum(Bytes& file, std::size_t at, std::size_t size) {
    test::putU16(file, at, computeChecksum({file.data() + at, size}));
}

void expectOnlyMessage(const ScriptedInteraction& ui, const std::string& text,
                       const std::string& caption) {
    ASSERT_EQ(ui.requests.size(), 1u);
    EXPECT_EQ(ui.requests[0].text, text);
    EXPECT_EQ(ui.requests[0].caption, caption);
    EXPECT_EQ(ui.requests[0].icon, MessageIcon::Error);
    EXPECT_EQ(ui.requests[0].buttons, MessageButtons::Ok);
}

TEST(ConfigFile, SavedFileIsTheFullLayoutAndLoadsBackIdentically) {
    TempDir dir;
    CConfigDataBank s;
    s.resetToDefaults();
    s.heldVersion = 201;  // a newer download is still written as version 200 without extras
    ASSERT_TRUE(s.placeRecords(StructureKind::Public, Bytes(70, 0), 70));
    s.publicConfig.speedLimit = 1234.5f;
    s.readOnly = {250, 3, 77};
    ScriptedInteraction ui;
    ASSERT_TRUE(saveConfigFile(s, dir.file("a.cfg"), ui));
    EXPECT_FALSE(s.isModified(StructureKind::Public));  // saving changes no flag

    const Bytes file = test::readFile(dir.file("a.cfg"));
    ASSERT_EQ(file.size(), 1890u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 26), "BRENLOW CONFIGURATION FILE");
    EXPECT_EQ(test::getU16(file, 26), 200);
    EXPECT_EQ(test::getU16(file, 28), 66);
    EXPECT_EQ(test::getU16(file, 30), 280);
    EXPECT_EQ(test::getU16(file, 32), 150);
    EXPECT_EQ(test::getU16(file, kTrailerAt), 8);
    EXPECT_EQ(test::getU16(file, kTrailerAt + 2), 250);

    CConfigDataBank loaded;
    ScriptedInteraction quiet;
    bool cleared = false;
    ConfigFileHooks hooks;
    hooks.clearFallbackDriverControlsBase = [&] { cleared = true; };
    ASSERT_TRUE(loadConfigFile(loaded, dir.file("a.cfg"), quiet, true, true, hooks));
    EXPECT_TRUE(quiet.requests.empty());
    EXPECT_TRUE(cleared);
    EXPECT_EQ(loaded.heldVersion, 200);
    for (auto k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        EXPECT_TRUE(loaded.isValid(k));
        EXPECT_TRUE(loaded.isModified(k));
    }
    EXPECT_EQ(val(loaded.readOnly.firmwareBuild), 77u);
    ASSERT_TRUE(saveConfigFile(loaded, dir.file("b.cfg"), quiet));
    EXPECT_EQ(test::readFile(dir.file("b.cfg")), file);
}

TEST(ConfigFile, OlderVersionAsksBeforeUpgrading) {
    Bytes file = sampleFile();
    test::putU16(file, 26, 199);
    CConfigDataBank s;
    s.heldVersion = 150;
    s.setValid(StructureKind::Private, true);
    const Snapshot before = snapshot(s);

    // No: nothing changes, not even the held version.
    ScriptedInteraction no({MessageAnswer::No});
    EXPECT_FALSE(loadConfigData(s, file, no, true, true));
    ASSERT_EQ(no.requests.size(), 1u);
    const MessageBoxRequest& q = no.requests[0];
    EXPECT_EQ(q.text,
              "The loaded config is about to be upgraded.\r\n\r\nFrom: 1.99.\r\n\r\nTo: "
              "2.00.\r\n\r\nProceed?");
    EXPECT_EQ(q.caption, "Load verification");
    EXPECT_EQ(q.icon, MessageIcon::Information);
    EXPECT_EQ(q.buttons, MessageButtons::YesNo);
    EXPECT_EQ(q.defaultAnswer, MessageAnswer::No);
    EXPECT_EQ(snapshot(s), before);

    // Yes: the file is taken over and the held version rises to the file's.
    ScriptedInteraction yes({MessageAnswer::Yes});
    EXPECT_TRUE(loadConfigData(s, file, yes, true, true));
    EXPECT_EQ(yes.requests.size(), 1u);
    EXPECT_EQ(s.heldVersion, 199);
    EXPECT_EQ(val(s.privateConfig.serialNumber), 123456u);
}

TEST(ConfigFile, NewerVersionIsRefusedBeforeAnythingElseIsRead) {
    Bytes file = sampleFile();
    test::putU16(file, 26, 201);
    file.resize(28);  // nothing after the version: only the version may be looked at
    CConfigDataBank s;
    const Snapshot before = snapshot(s);
    ScriptedInteraction ui;
    EXPECT_FALSE(loadConfigData(s, file, ui, true, true));
    expectOnlyMessage(ui,
                      "Later version of config file.\r\nExpected v2.00 or older, read "
                      "v2.01.\r\nPlease update your software to the latest version.",
                      "Version Error");
    EXPECT_EQ(snapshot(s), before);
}

TEST(ConfigFile, OlderFileOverNewerDownloadNeedsCompleteDownload) {
    const Bytes file = sampleFile();
    auto newer = [](bool pub, bool priv, bool mot) {
        auto s = std::make_unique<CConfigDataBank>();
        s->heldVersion = 201;
        s->setValid(StructureKind::Public, pub);
        s->setValid(StructureKind::Private, priv);
        s->setValid(StructureKind::Motor, mot);
        return s;
    };
    {
        auto s = newer(true, true, true);
        ScriptedInteraction ui;
        EXPECT_TRUE(loadConfigData(*s, file, ui, true, true));
        EXPECT_EQ(s->heldVersion, 201);
    }
    {
        auto s = newer(true, false, false);
        ScriptedInteraction ui;
        EXPECT_FALSE(loadConfigData(*s, file, ui, true, true));
        expectOnlyMessage(ui,
                          "Incomplete newer config download detected.\r\nCannot load in older "
                          "config segments until a complete download of the newer version is "
                          "completed",
                          "Config Version Error");
        EXPECT_EQ(val(s->privateConfig.serialNumber), 0u);
    }
    {
        // Keeping the private record does not need it downloaded.
        auto s = newer(true, false, true);
        ScriptedInteraction ui;
        EXPECT_TRUE(loadConfigData(*s, file, ui, false, true));
    }
}

TEST(ConfigFile, FormatErrorsChangeNothingButTheHeldVersion) {
    struct Case {
        const char* name;
        void (*damage)(Bytes&);
        const char* text;
        const char* caption;
    };
    const Case cases[] = {
        {"header", [](Bytes& f) { f[7] = '_'; }, "Not Brenlow config file", "Incorrect Format"},
        {"public size", [](Bytes& f) { test::putU16(f, 28, 67); }, "Invalid structure length",
         "Bad File Format"},
        {"motor size", [](Bytes& f) { test::putU16(f, 32, 151); }, "Invalid structure length",
         "Bad File Format"},
        {"size below checksum", [](Bytes& f) { test::putU16(f, 30, 1); },
         "Invalid structure length", "Bad File Format"},
        {"public sum", [](Bytes& f) { f[40] ^= 1; }, "Config check sum does not match",
         "Bad File Format"},
        {"private sum", [](Bytes& f) { f[100 + 279] ^= 1; }, "Config check sum does not match",
         "Bad File Format"},
        {"last motor sum", [](Bytes& f) { f[kMotorStart + 9 * 150 + 60] ^= 1; },
         "Config check sum does not match", "Bad File Format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = sampleFile();
        c.damage(file);
        CConfigDataBank s;
        s.resetToDefaults();
        const Snapshot before = snapshot(s);
        ScriptedInteraction ui;
        EXPECT_FALSE(loadConfigData(s, file, ui, true, true));
        expectOnlyMessage(ui, c.text, c.caption);
        Snapshot after = snapshot(s);
        EXPECT_EQ(after.records, before.records);
        EXPECT_EQ(after.flags, before.flags);
    }
}

TEST(ConfigFile, FileEndingEarlyIsAReadErrorNeverAnOverrun) {
    const Bytes full = sampleFile();
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{27}, std::size_t{33},
                             kMotorStart, kTrailerAt - 1}) {
        SCOPED_TRACE(size);
        // An exactly sized heap copy, so any read past the end is caught by the sanitizers.
        const Bytes file(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
        CConfigDataBank s;
        const Snapshot before = snapshot(s);
        ScriptedInteraction ui;
        EXPECT_FALSE(loadConfigData(s, file, ui, true, true));
        expectOnlyMessage(ui, "The end of file was reached", "File read error");
        EXPECT_EQ(snapshot(s).records, before.records);
    }
}

TEST(ConfigFile, LoadPrivateFalseKeepsThePrivateRecordAndItsFlags) {
    CConfigDataBank s;
    s.resetToDefaults();
    s.privateConfig.serialNumber = 777;
    s.setValid(StructureKind::Private, true);
    ScriptedInteraction ui;
    ASSERT_TRUE(loadConfigData(s, sampleFile(), ui, false, false));
    EXPECT_EQ(val(s.privateConfig.serialNumber), 777u);
    EXPECT_TRUE(s.isValid(StructureKind::Private));
    EXPECT_FALSE(s.isModified(StructureKind::Private));
    EXPECT_EQ(val(s.publicConfig.activeMotor), 3);
    EXPECT_TRUE(s.isModified(StructureKind::Public));
    EXPECT_EQ(val(s.motor[9].polePairs), 7);
    EXPECT_TRUE(s.isModified(StructureKind::Motor));
}

TEST(ConfigFile, ShortMotorRecordsKeepTheRestOfEachSlotAndTrailerMayBeMissing) {
    // Given an older file with 140-byte motor records and no trailer
    const Bytes full = sampleFile();
    Bytes file(full.begin(), full.begin() + kMotorStart);
    test::putU16(file, 32, 140);
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        Bytes record(140, static_cast<std::uint8_t>(0x40 + i));
        fixChecksum(record, 0, 140);
        file.insert(file.end(), record.begin(), record.end());
    }
    CConfigDataBank s;
    s.resetToDefaults();
    for (auto& m : s.motor) m.encoderCount = 4321;  // bytes 146-147
    s.readOnly.firmwareBuild = 5;

    ScriptedInteraction ui;
    ConfigFileInfo info;
    ASSERT_TRUE(loadConfigData(s, file, ui, true, true, {}, &info));
    EXPECT_TRUE(ui.requests.empty());
    EXPECT_EQ(info.motorSize, 140);
    EXPECT_FALSE(info.trailerLength.has_value());
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const auto b = s.recordBytes(StructureKind::Motor, i);
        EXPECT_EQ(b[139], 0x40 + i);
        EXPECT_EQ(val(s.motor[i].encoderCount), 4321);
        EXPECT_EQ(val(s.motor[i].maxId), 20.0f);  // bytes 142-145 keep the default
    }
    // With the trailer asked for but absent, the identification block is all zero.
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 0u);
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 0);
}

TEST(ConfigFile, TrailerOfAnyLengthStaysInsideTheIdentificationBlock) {
    // Longer than 8: the first 8 bytes are taken, the rest skipped.
    Bytes file = sampleFile();
    test::putU16(file, kTrailerAt, 12);
    for (int i = 0; i < 4; ++i) file.push_back(0xEE);
    CConfigDataBank s;
    ScriptedInteraction ui;
    ASSERT_TRUE(loadConfigData(s, file, ui, true, true));
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 123);
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 56789u);
    EXPECT_EQ(val(s.publicConfig.activeMotor), 3);  // the record next to the block is untouched

    // Shorter than 8: the rest of the block stays zero.
    Bytes shorter = sampleFile();
    test::putU16(shorter, kTrailerAt, 2);
    shorter.resize(kTrailerAt + 4);
    ASSERT_TRUE(loadConfigData(s, shorter, ui, true, true));
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 123);
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 0u);

    // A trailer that claims more bytes than the file has: the records stay loaded, the
    // end of the file is reported.
    Bytes cut = sampleFile();
    test::putU16(cut, kTrailerAt, 8);
    cut.resize(kTrailerAt + 6);
    CConfigDataBank t;
    ScriptedInteraction eof;
    EXPECT_FALSE(loadConfigData(t, cut, eof, true, true));
    expectOnlyMessage(eof, "The end of file was reached", "File read error");
    EXPECT_EQ(val(t.privateConfig.serialNumber), 123456u);
}

TEST(ConfigFile, ChargerDescriptionSelectsDeviceTypeOnlyWithTrailer) {
    CConfigDataBank source;
    source.resetToDefaults();
    auto loadWith = [&](const char* description, bool trailer) {
        setDescription(source.motor[0], description);
        const Bytes file = buildConfigFile(source);
        CConfigDataBank s;
        ScriptedInteraction ui;
        int type = -1;
        ConfigFileHooks hooks;
        hooks.setSelectedDeviceType = [&](std::uint16_t t) { type = t; };
        EXPECT_TRUE(loadConfigData(s, file, ui, true, trailer, hooks));
        return type;
    };
    EXPECT_EQ(loadWith("ECHG_GT 48V rev B", true), 0x4001);
    EXPECT_EQ(loadWith("ECHG_GT 48V rev B", false), -1);
    EXPECT_EQ(loadWith("ECHG_ISO", true), 0x4000);
    EXPECT_EQ(loadWith("ECHG_IS", true), -1);
    EXPECT_EQ(loadWith("DOZAZ surface", true), -1);

    // A description without a terminator in the file is read as 19 characters at most.
    std::memset(source.motor[0].description, 'Q', kDescriptionSize);
    CConfigDataBank s;
    ScriptedInteraction ui;
    ASSERT_TRUE(loadConfigData(s, buildConfigFile(source), ui, true, true));
    EXPECT_EQ(s.motorDescription(0), std::string(19, 'Q'));
}

TEST(ConfigFile, FileSystemFailuresNameTheirCause) {
    TempDir dir;
    CConfigDataBank s;
    ScriptedInteraction ui;
    EXPECT_FALSE(loadConfigFile(s, dir.file("missing.cfg"), ui, true, true));
    expectOnlyMessage(ui, "The file could not be located", "File read error");

    ScriptedInteraction folder;
    EXPECT_FALSE(loadConfigFile(s, dir.path().string(), folder, true, true));
    expectOnlyMessage(folder, "The file could not be accessed", "File read error");

    ScriptedInteraction write;
    EXPECT_FALSE(saveConfigFile(s, dir.file("no/such/folder/a.cfg"), write));
    expectOnlyMessage(write, "The file could not be located", "File write error");

    // The causes the system reports map to the closest of the fixed texts.
    EXPECT_STREQ(fileErrorText(fileErrorCause(ENAMETOOLONG)), "All or part of the path is invalid");
    EXPECT_STREQ(fileErrorText(fileErrorCause(EROFS)), "The file could not be accessed");
    EXPECT_STREQ(fileErrorText(fileErrorCause(EDQUOT)), "The disk is full");
    EXPECT_STREQ(fileErrorText(fileErrorCause(EPROTO)), "An unspecified error occurred");
    EXPECT_STREQ(fileErrorText(FileErrorCause::EndOfFile), "The end of file was reached");
}

// Lowers the file-size limit so writes past `bytes` fail, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved_;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit saved_{};
    sighandler_t oldHandler_;
};

TEST(ConfigFile, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    const std::string target = dir.file("keep.cfg");
    const Bytes old = sampleFile();
    test::writeFile(target, old);
    CConfigDataBank s;
    s.resetToDefaults();
    {
        // The write stops half way through the new file.
        FileSizeLimit limit(1000);
        ScriptedInteraction ui;
        EXPECT_FALSE(saveConfigFile(s, target, ui));
        ASSERT_EQ(ui.requests.size(), 1u);
        EXPECT_EQ(ui.requests[0].caption, "File write error");
        EXPECT_EQ(ui.requests[0].text, "The disk is full");
    }
    EXPECT_EQ(test::readFile(target), old);
    // A target that is a folder cannot be replaced.
    std::filesystem::create_directory(dir.file("folder.cfg"));
    ScriptedInteraction ui;
    EXPECT_FALSE(saveConfigFile(s, dir.file("folder.cfg"), ui));
    ASSERT_EQ(ui.requests.size(), 1u);
    EXPECT_EQ(ui.requests[0].caption, "File write error");
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.cfg")));

    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2u);  // keep.cfg and the folder: no temporary file left behind

    // The same save with room to write replaces the file and keeps its permissions.
    namespace fs = std::filesystem;
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    ScriptedInteraction ok;
    EXPECT_TRUE(saveConfigFile(s, target, ok));
    EXPECT_EQ(test::readFile(target).size(), 1890u);
    EXPECT_NE(test::readFile(target), old);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // Saving through a link writes the linked file and leaves the link in place.
    fs::create_symlink("keep.cfg", dir.file("link.cfg"));
    s.motor[2].polePairs = 9;
    EXPECT_TRUE(saveConfigFile(s, dir.file("link.cfg"), ok));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.cfg")));
    EXPECT_EQ(test::readFile(target), buildConfigFile(s));
}

}  // namespace
}  // namespace qv
