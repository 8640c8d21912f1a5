#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "config/config_dump.h"
#include "config/config_file.h"
#include "config/file_errors.h"
#include "config_test_support.h"
#include "distinct_fixture.h"
#include "support/fifo.h"

namespace qv {
namespace {

using test::FileShape;
using test::handBuiltFile;
using test::ScriptedInteraction;
using test::TempDir;
using test::val;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kMotorStart = 34 + 66 + 280;
constexpr std::size_t kTrailerAt = kMotorStart + 1500;
constexpr auto kKinds = {StructureKind::Public, StructureKind::Private, StructureKind::Motor};

// Everything a load could change, for "untouched" checks.
struct Snapshot {
    Bytes records;
    Bytes extra;
    std::array<bool, 6> flags{};
    std::uint16_t held = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const CConfigDataBank& s) {
    Snapshot r;
    for (auto k : kKinds) {
        r.extra.push_back(static_cast<std::uint8_t>(s.extraLength(k)));
        for (std::size_t i = 0; i < recordCount(k); ++i) {
            const auto b = s.recordBytes(k, i);
            r.records.insert(r.records.end(), b.begin(), b.end());
            const auto e = s.extraBlock(k, i);
            r.extra.insert(r.extra.end(), e.begin(), e.end());
        }
    }
    const auto* ro = reinterpret_cast<const std::uint8_t*>(&s.readOnly);
    r.records.insert(r.records.end(), ro, ro + 8);
    r.flags = {s.isValid(StructureKind::Public),     s.isValid(StructureKind::Private),
               s.isValid(StructureKind::Motor),      s.isModified(StructureKind::Public),
               s.isModified(StructureKind::Private), s.isModified(StructureKind::Motor)};
    r.held = s.heldVersion;
    return r;
}

// Compares two stores field by field (each listing line names its field), then byte by byte.
void expectSameRecords(const CConfigDataBank& actual, const CConfigDataBank& expected) {
    const ConfigFileInfo full{200, 66, 280, 150, 8};
    std::istringstream a(dumpConfig(actual, full)), e(dumpConfig(expected, full));
    std::string la, le;
    int differences = 0;
    while (std::getline(e, le) && std::getline(a, la) && differences < 20)
        if (la != le) {
            ADD_FAILURE() << "got " << la << ", expected " << le;
            ++differences;
        }
    EXPECT_EQ(snapshot(actual).records, snapshot(expected).records);
}

const CConfigDataBank& fixtureStore() {
    static CConfigDataBank store;
    static const bool filled = (test::fillDistinct(store), true);
    (void)filled;
    return store;
}

void setAllFlags(CConfigDataBank& s) {
    for (auto k : kKinds) {
        s.setValid(k, true);
        s.markModified(k);
    }
}

void expectOnlyMessage(const ScriptedInteraction& ui, const std::string& text,
                       const std::string& caption) {
    ASSERT_EQ(ui.requests.size(), 1u);
    EXPECT_EQ(ui.requests[0].text, text);
    EXPECT_EQ(ui.requests[0].caption, caption);
    EXPECT_EQ(ui.requests[0].icon, MessageIcon::Error);
    EXPECT_EQ(ui.requests[0].buttons, MessageButtons::Ok);
}

TEST(ConfigFile, HandBuiltFileLoadsIntoEveryField) {
    // Given a file assembled byte by byte from the format, over a store holding the defaults
    CConfigDataBank s;
    s.resetToDefaults();
    s.heldVersion = 150;
    ScriptedInteraction ui;
    bool cleared = false;
    ConfigFileHooks hooks;
    hooks.clearFallbackDriverControlsBase = [&] { cleared = true; };

    ASSERT_TRUE(loadConfigData(s, handBuiltFile(), ui, true, true, hooks));

    EXPECT_TRUE(ui.requests.empty());
    expectSameRecords(s, fixtureStore());
    EXPECT_TRUE(cleared);
    EXPECT_EQ(s.heldVersion, 200);
    for (auto k : kKinds) {
        EXPECT_TRUE(s.isValid(k));
        EXPECT_TRUE(s.isModified(k));
    }
}

TEST(ConfigFile, SaveWritesTheFormatsLayoutAndChangesNoFlag) {
    TempDir dir;
    CConfigDataBank s;
    test::fillDistinct(s);
    setAllFlags(s);
    // A newer download is still written as version 200, without its extra bytes.
    s.heldVersion = 201;
    Bytes longer(70, 0x5A);
    std::memcpy(longer.data(), s.recordBytes(StructureKind::Public).data(), 66);
    ASSERT_TRUE(s.placeRecords(StructureKind::Public, longer, 70));
    s.publicConfig.checksum = 0xFFFF;  // stale: saving computes it again
    const Snapshot before = snapshot(s);

    ScriptedInteraction ui;
    ASSERT_TRUE(saveConfigFile(s, dir.file("a.cfg"), ui));

    EXPECT_EQ(test::readFile(dir.file("a.cfg")), handBuiltFile());
    Snapshot after = snapshot(s);
    EXPECT_EQ(after.flags, before.flags);
    EXPECT_EQ(after.held, 201);
    EXPECT_EQ(after.extra, before.extra);
    EXPECT_TRUE(ui.requests.empty());
}

TEST(ConfigFile, OlderVersionAsksBeforeUpgrading) {
    const Bytes file = handBuiltFile({.version = 199});
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
    expectSameRecords(s, fixtureStore());
}

TEST(ConfigFile, NewerVersionIsRefusedBeforeAnythingElseIsRead) {
    Bytes file = handBuiltFile({.version = 201});
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

const char* const kIncompleteNewer =
    "Incomplete newer config download detected.\r\nCannot load in older config segments "
    "until a complete download of the newer version is completed";

TEST(ConfigFile, OlderFileOverNewerDownloadNeedsEveryStructureItBrings) {
    struct Case {
        bool pub, priv, mot, loadPrivate, accepted;
    };
    const Case cases[] = {
        {true, true, true, true, true},    {true, false, false, true, false},
        {true, false, true, true, false},  // the private record comes in but was not downloaded
        {true, false, true, false, true},  // kept, so it need not have been downloaded
        {false, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.pub << c.priv << c.mot << " private " << c.loadPrivate);
        // Given a newer download whose longer motor records left extra blocks
        CConfigDataBank s;
        s.resetToDefaults();
        s.heldVersion = 201;
        ASSERT_TRUE(s.placeRecords(StructureKind::Motor, Bytes(1600, 0x33), 160));
        s.setValid(StructureKind::Public, c.pub);
        s.setValid(StructureKind::Private, c.priv);
        s.setValid(StructureKind::Motor, c.mot);
        const Snapshot before = snapshot(s);

        ScriptedInteraction ui;
        EXPECT_EQ(loadConfigData(s, handBuiltFile(), ui, c.loadPrivate, true), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(ui.requests.empty());
            EXPECT_EQ(s.heldVersion, 201);
            // The records take the file's known part; the newer tail goes on to the upload.
            EXPECT_EQ(val(s.motor[4].polePairs), 400);
            EXPECT_EQ(s.extraLength(StructureKind::Motor), 10);
            EXPECT_EQ(snapshot(s).extra, before.extra);
        } else {
            expectOnlyMessage(ui, kIncompleteNewer, "Config Version Error");
            EXPECT_EQ(snapshot(s), before);
        }
    }

    // An older file asks first; only then is it refused.
    CConfigDataBank s;
    s.heldVersion = 201;
    s.setValid(StructureKind::Public, true);
    ScriptedInteraction ui({MessageAnswer::Yes});
    EXPECT_FALSE(loadConfigData(s, handBuiltFile({.version = 199}), ui, true, true));
    ASSERT_EQ(ui.requests.size(), 2u);
    EXPECT_EQ(ui.requests[0].caption, "Load verification");
    EXPECT_EQ(ui.requests[1].text, kIncompleteNewer);
    EXPECT_EQ(s.heldVersion, 201);
}

TEST(ConfigFile, FailedLoadChangesNothingNotEvenTheHeldVersion) {
    struct Case {
        const char* name;
        Bytes file;
        std::uint16_t held;
        const char* text;
        const char* caption;
    };
    const FileShape shorter{.motorSize = 140, .trailerLength = std::nullopt};
    const auto damaged = [](Bytes f, std::size_t at) {
        f.at(at) ^= 0x01;
        return f;
    };
    const auto cut = [](Bytes f, std::size_t size) {
        f.resize(size);
        return f;
    };
    const auto withU16 = [](Bytes f, std::size_t at, std::uint16_t v) {
        test::putU16(f, at, v);
        return f;
    };
    const Bytes full = handBuiltFile();
    const char* const eof = "The end of file was reached";
    const Case cases[] = {
        {"header", damaged(full, 7), 150, "Not Brenlow config file", "Incorrect Format"},
        {"later version", handBuiltFile({.version = 300}), 150,
         "Later version of config file.\r\nExpected v2.00 or older, read v3.00.\r\nPlease "
         "update your software to the latest version.",
         "Version Error"},
        {"public size", withU16(full, 28, 67), 150, "Invalid structure length", "Bad File Format"},
        {"motor size", withU16(full, 32, 151), 150, "Invalid structure length", "Bad File Format"},
        {"size below checksum", withU16(full, 30, 1), 150, "Invalid structure length",
         "Bad File Format"},
        {"public sum", damaged(full, 40), 150, "Config check sum does not match",
         "Bad File Format"},
        {"private sum", damaged(full, 100 + 279), 150, "Config check sum does not match",
         "Bad File Format"},
        {"last motor sum", damaged(full, kMotorStart + 9 * 150 + 60), 150,
         "Config check sum does not match", "Bad File Format"},
        {"fourth 140-byte motor sum",
         damaged(handBuiltFile(shorter), test::motorRecordOffset(shorter, 3) + 139), 150,
         "Config check sum does not match", "Bad File Format"},
        {"incomplete newer download", full, 201, kIncompleteNewer, "Config Version Error"},
        {"inside the header", cut(full, 10), 150, eof, "File read error"},
        {"inside the sizes", cut(full, 33), 150, eof, "File read error"},
        {"inside the records", cut(full, kTrailerAt - 1), 150, eof, "File read error"},
        {"stray byte after the records", cut(full, kTrailerAt + 1), 150, eof, "File read error"},
        {"trailer shorter than its length", cut(full, kTrailerAt + 6), 150, eof, "File read error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Given a store that differs from the file in every field, with flags and a version
        CConfigDataBank s;
        s.resetToDefaults();
        s.readOnly = {1, 2, 3};
        s.heldVersion = c.held;
        s.setValid(StructureKind::Private, true);
        s.markModified(StructureKind::Motor);
        const Snapshot before = snapshot(s);
        // An exactly sized heap copy, so any read past the end is caught by the sanitizers.
        const Bytes file = c.file;
        ScriptedInteraction ui;
        EXPECT_FALSE(loadConfigData(s, file, ui, true, true));
        expectOnlyMessage(ui, c.text, c.caption);
        EXPECT_EQ(snapshot(s), before);
    }
}

TEST(ConfigFile, LoadPrivateFalseKeepsThePrivateRecordAndItsFlags) {
    CConfigDataBank s;
    s.resetToDefaults();
    s.privateConfig.serialNumber = 777;
    s.setValid(StructureKind::Private, true);
    ScriptedInteraction ui;
    ASSERT_TRUE(loadConfigData(s, handBuiltFile(), ui, false, false));
    EXPECT_EQ(val(s.privateConfig.serialNumber), 777u);
    EXPECT_TRUE(s.isValid(StructureKind::Private));
    EXPECT_FALSE(s.isModified(StructureKind::Private));
    EXPECT_EQ(val(s.publicConfig.activeMotor), 7);
    EXPECT_TRUE(s.isModified(StructureKind::Public));
    EXPECT_EQ(val(s.motor[9].polePairs), 900);
    EXPECT_TRUE(s.isModified(StructureKind::Motor));
}

TEST(ConfigFile, ShorterRecordsKeepTheRestOfEachSlot) {
    // Given an older file with shorter records and no trailer, over the defaults
    const FileShape shape{.version = 150,
                          .publicSize = 60,
                          .privateSize = 270,
                          .motorSize = 140,
                          .trailerLength = std::nullopt};
    CConfigDataBank s;
    s.resetToDefaults();
    s.readOnly.firmwareBuild = 5;
    CConfigDataBank defaults;
    defaults.resetToDefaults();

    ScriptedInteraction ui({MessageAnswer::Yes});
    ConfigFileInfo info;
    ASSERT_TRUE(loadConfigData(s, handBuiltFile(shape), ui, true, true, {}, &info));

    EXPECT_EQ(info.motorSize, 140);
    EXPECT_FALSE(info.trailerLength.has_value());
    // Each record is the file's up to its size (the checksum too is the file's, over the
    // shorter record) and keeps the defaults after it.
    const Bytes fromFile = snapshot(fixtureStore()).records;
    const Bytes kept = snapshot(defaults).records;
    const Bytes loaded = snapshot(s).records;
    const std::size_t sizes[] = {60, 270, 140};
    std::size_t at = 0;
    for (auto k : kKinds)
        for (std::size_t i = 0; i < recordCount(k); ++i, at += knownSize(k)) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(k) << " record " << i);
            const auto start = static_cast<std::ptrdiff_t>(at);
            const auto size = static_cast<std::ptrdiff_t>(sizes[static_cast<int>(k)]);
            const auto end = static_cast<std::ptrdiff_t>(at + knownSize(k));
            EXPECT_TRUE(std::equal(loaded.begin() + start + 2, loaded.begin() + start + size,
                                   fromFile.begin() + start + 2));
            EXPECT_TRUE(std::equal(loaded.begin() + start + size, loaded.begin() + end,
                                   kept.begin() + start + size));
        }
    // With the trailer asked for but absent, the identification block is all zero.
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 0u);
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 0);
}

TEST(ConfigFile, TrailerOnlyWhenAskedForAndAlwaysInsideTheIdentificationBlock) {
    // Without loadTrailer the block keeps its value and the trailer is not even read.
    Bytes cutTrailer = handBuiltFile();
    cutTrailer.resize(kTrailerAt + 3);
    CConfigDataBank s;
    s.readOnly = {11, 22, 33};
    ScriptedInteraction ui;
    ASSERT_TRUE(loadConfigData(s, cutTrailer, ui, true, false));
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 11);
    EXPECT_EQ(val(s.readOnly.dspHardwareVersion), 22);
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 33u);

    // Longer than 8: the first 8 bytes are taken, the rest skipped.
    ASSERT_TRUE(loadConfigData(s, handBuiltFile({.trailerLength = 12}), ui, true, true));
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 251);
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 987654u);
    EXPECT_EQ(val(s.publicConfig.activeMotor), 7);  // the record next to the block is untouched

    // Shorter than 8: the rest of the block is zero.
    ASSERT_TRUE(loadConfigData(s, handBuiltFile({.trailerLength = 2}), ui, true, true));
    EXPECT_EQ(val(s.readOnly.firmwareVersion), 251);
    EXPECT_EQ(val(s.readOnly.dspHardwareVersion), 0);
    EXPECT_EQ(val(s.readOnly.firmwareBuild), 0u);
    EXPECT_TRUE(ui.requests.empty());
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

    // A named pipe is refused at once, never waited on, and stays a pipe.
    test::Fifo fifo;
    ScriptedInteraction pipeRead, pipeWrite;
    EXPECT_TRUE(fifo.returnsAtOnce([&] {
        EXPECT_FALSE(loadConfigFile(s, fifo.path(), pipeRead, true, true));
        EXPECT_FALSE(saveConfigFile(s, fifo.path(), pipeWrite));
    }));
    expectOnlyMessage(pipeRead, "The file could not be accessed", "File read error");
    expectOnlyMessage(pipeWrite, "The file could not be accessed", "File write error");
    EXPECT_TRUE(fifo.stillAPipe());

    // A folder that is not there is a fault of the path, not a missing file.
    ScriptedInteraction write;
    EXPECT_FALSE(saveConfigFile(s, dir.file("no/such/folder/a.cfg"), write));
    expectOnlyMessage(write, "All or part of the path is invalid", "File write error");

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

std::size_t entriesOf(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

TEST(ConfigFile, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string target = dir.file("keep.cfg");
    const Bytes old = handBuiltFile();
    test::writeFile(target, old);
    CConfigDataBank s;
    s.resetToDefaults();
    {
        // The write stops half way through the new file.
        FileSizeLimit limit(1000);
        ScriptedInteraction ui;
        EXPECT_FALSE(saveConfigFile(s, target, ui));
        expectOnlyMessage(ui, "The disk is full", "File write error");
    }
    EXPECT_EQ(test::readFile(target), old);
    // A target that is a folder cannot be replaced.
    fs::create_directory(dir.file("folder.cfg"));
    ScriptedInteraction ui;
    EXPECT_FALSE(saveConfigFile(s, dir.file("folder.cfg"), ui));
    expectOnlyMessage(ui, "The file could not be accessed", "File write error");
    EXPECT_TRUE(fs::is_directory(dir.file("folder.cfg")));
    EXPECT_EQ(entriesOf(dir.path()), 2u);  // keep.cfg and the folder: no temporary file

    // The same save with room to write replaces the file and keeps its permissions.
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    ScriptedInteraction ok;
    EXPECT_TRUE(saveConfigFile(s, target, ok));
    EXPECT_EQ(test::readFile(target), buildConfigFile(s));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // Through a link the linked file is written and the link stays; a hard link sees the
    // new contents as a plain write would show them.
    fs::create_symlink("keep.cfg", dir.file("link.cfg"));
    fs::create_hard_link(target, dir.file("hard.cfg"));
    s.motor[2].polePairs = 9;
    EXPECT_TRUE(saveConfigFile(s, dir.file("link.cfg"), ok));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.cfg")));
    EXPECT_EQ(test::readFile(target), buildConfigFile(s));
    EXPECT_EQ(test::readFile(dir.file("hard.cfg")), buildConfigFile(s));
    EXPECT_TRUE(ok.requests.empty());
}

// Root passes every permission check, so these run in a child without privileges.
TEST(ConfigFile, PermissionsDecideAsForAPlainWrite) {
    namespace fs = std::filesystem;
    TempDir dir;
    const Bytes old = handBuiltFile();
    const std::string result = test::runUnprivileged(dir.path(), [&] {
        CConfigDataBank s;
        s.resetToDefaults();
        // What a save said, then what the file holds.
        const auto save = [&](const std::string& name) {
            ScriptedInteraction ui;
            std::string r = saveConfigFile(s, dir.file(name), ui) ? "saved" : "refused";
            for (const auto& m : ui.requests) r += " (" + m.caption + ": " + m.text + ")";
            if (!std::filesystem::exists(dir.file(name))) return r;
            const Bytes now = test::readFile(dir.file(name));
            return r + (now == old ? ", old" : now == buildConfigFile(s) ? ", new" : ", other");
        };
        std::string out;
        test::writeFile(dir.file("ro.cfg"), old);
        ::chmod(dir.file("ro.cfg").c_str(), 0444);
        out += "read-only file: " + save("ro.cfg") + "\n";

        test::writeFile(dir.file("rw.cfg"), old);
        ::chmod(dir.path().c_str(), 0555);
        {
            FileSizeLimit limit(1000);
            out += "folder read-only, disk full: " + save("rw.cfg") + "\n";
        }
        out += "folder read-only: " + save("rw.cfg") + "\n";
        out += "new file, folder read-only: " + save("new.cfg") + "\n";
        out += "folder entries: " + std::to_string(entriesOf(dir.path())) + "\n";
        ::chmod(dir.path().c_str(), 0755);

        test::writeFile(dir.file("secret.cfg"), old);
        ::chmod(dir.file("secret.cfg").c_str(), 0);
        CConfigDataBank t;
        ScriptedInteraction ui;
        const bool loaded = loadConfigFile(t, dir.file("secret.cfg"), ui, true, true);
        out += std::string("unreadable file: ") + (loaded ? "loaded" : "refused");
        for (const auto& m : ui.requests) out += " (" + m.caption + ": " + m.text + ")";
        out += snapshot(t) == snapshot(CConfigDataBank{}) ? ", store unchanged" : ", store changed";
        return out;
    });
    EXPECT_EQ(result,
              "read-only file: refused (File write error: The file could not be accessed), old\n"
              "folder read-only, disk full: refused (File write error: The disk is full), old\n"
              "folder read-only: saved, new\n"
              "new file, folder read-only: refused (File write error: The file could not be "
              "accessed)\n"
              "folder entries: 2\n"
              "unreadable file: refused (File read error: The file could not be accessed), "
              "store unchanged");
}

}  // namespace
}  // namespace qv
