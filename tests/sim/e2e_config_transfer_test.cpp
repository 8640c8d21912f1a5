// Configuration download and upload against the simulator: stages and captions, the serial and
// version questions, newer and older layouts, recovery, the flash acknowledgement, and a round
// trip through a file that leaves the controller's stored bytes as they were.
#include <gtest/gtest.h>

#include <unistd.h>
#include <array>
#include <cstring>

#include <filesystem>

#include "config/config_file.h"
#include "config/transfer_messages.h"
#include "config_transfer_rig.h"
#include "sim/controller_config.h"
#include "support/store_records.h"

namespace qv {
namespace {

using test::TransferRig;

using test::recordsOf;

// The records a freshly made simulated controller serves, by the same rules.
std::vector<std::uint8_t> servedRecords(const std::string& modes, int kind, std::size_t known) {
    sim::ControllerConfig config(test::kRigBase, test::kRigSerial, sim::parseConfigModes(modes));
    const auto stream = config.storedStream(kind);
    const std::size_t size = readU16(stream, 28);
    std::vector<std::uint8_t> out;
    for (std::size_t at = kStreamHeaderSize; at + size <= stream.size(); at += size)
        out.insert(out.end(), stream.begin() + static_cast<long>(at),
                   stream.begin() + static_cast<long>(at + std::min(size, known)));
    return out;
}

TEST(ConfigTransfer, DownloadRunsItsStagesInOrderAndFillsTheStore) {
    TransferRig rig;
    rig.store.markModified(StructureKind::Private);  // a download clears what it replaces
    ASSERT_TRUE(rig.download());
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        EXPECT_TRUE(rig.store.isValid(k));
        EXPECT_FALSE(rig.store.isModified(k));
    }
    EXPECT_EQ(+rig.store.privateConfig.serialNumber, test::kRigSerial);
    EXPECT_EQ(+rig.store.publicConfig.canBaseAddress, test::kRigBase);
    EXPECT_EQ(+rig.store.readOnly.firmwareVersion, 152);
    EXPECT_EQ(+rig.store.readOnly.firmwareBuild, 4711u);
    EXPECT_EQ(rig.store.heldVersion, 200);
    EXPECT_EQ(recordsOf(rig.store, StructureKind::Motor), servedRecords("", 2, kMotorSize));
    EXPECT_TRUE(rig.ui.shown().empty());
    EXPECT_EQ(rig.progress.captionHistory(),
              (std::vector<std::string>{"QV -> PC - Config", "QV -> PC - Public Config",
                                        "QV -> PC - Private Config", "QV -> PC - Motor Config"}));
    // The bar followed every byte; the ending hid the window and rewound it.
    const auto state = rig.progress.state();
    EXPECT_EQ(state.range, 96u + 310u + 1530u);
    EXPECT_EQ(state.position, 0u);
    EXPECT_FALSE(state.visible);
    EXPECT_FALSE(state.enabled);
    EXPECT_FALSE(transferRunning(rig.store));
    // The port's own progress hook saw every chunk and is back in place afterwards.
    EXPECT_EQ(rig.posted, 96u + 310u + 1530u);
    std::vector<std::uint8_t> bytes(4096);
    std::uint16_t length = 4096;
    ASSERT_EQ(rig.can.transfer(&length, bytes.data(), 0x0100, false, true), kTransferOk);
    EXPECT_EQ(rig.posted, 96u + 310u + 1530u + 96u);
}

TEST(ConfigTransfer, SerialZeroIsRefusedBeforeAnyCanTraffic) {
    TransferRig rig("serial0");
    ASSERT_TRUE(rig.download());
    ASSERT_EQ(+rig.store.privateConfig.serialNumber, 0u);
    rig.store.markModified(StructureKind::Public);
    // Let the bridge's counters settle, then nothing more may come from the program.
    ASSERT_TRUE(test::eventually([&] { return rig.sim.world().stats().bridge.tcpClients == 0; }));
    const auto before = rig.sim.world().stats().bridge;
    EXPECT_FALSE(rig.upload());
    ASSERT_EQ(rig.ui.shown().size(), 1u);
    EXPECT_EQ(rig.ui.shown()[0].text, invalidConfigurationMessage().text);
    EXPECT_EQ(rig.ui.shown()[0].caption, "Upload");
    EXPECT_EQ(rig.ui.shown()[0].icon, MessageIcon::Error);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto after = rig.sim.world().stats().bridge;
    EXPECT_EQ(after.tcpAccepted, before.tcpAccepted);
    EXPECT_EQ(after.framesFromClients, before.framesFromClients);
    EXPECT_TRUE(rig.store.isModified(StructureKind::Public));
}

TEST(ConfigTransfer, AnotherControllersConfigurationAsksWithTheDeviceSerialFirst) {
    TransferRig rig("", 0, 654321);
    ASSERT_TRUE(rig.download());
    rig.store.privateConfig.serialNumber = 123456;
    rig.store.markModified(StructureKind::Private);
    rig.ui.expect("Overwrite config for controller 654321 with config for controller 123456.",
                  MessageAnswer::Cancel);
    EXPECT_FALSE(rig.upload());
    EXPECT_TRUE(rig.ui.scriptDone());
    const auto question = rig.ui.shown().at(0);
    EXPECT_EQ(question.caption, "Upload");
    EXPECT_EQ(question.buttons, MessageButtons::OkCancel);
    EXPECT_EQ(question.icon, MessageIcon::Warning);
    EXPECT_EQ(question.defaultAnswer, MessageAnswer::Cancel);

    // A device whose serial is unknown (0) is not asked about; the last question still is.
    rig.ui.clear();
    rig.target.serial = 0;
    rig.ui.expect("Overwrite config?", MessageAnswer::No);
    EXPECT_FALSE(rig.upload());
    EXPECT_TRUE(rig.ui.scriptDone());
    EXPECT_EQ(rig.storedStream(1), sim::ControllerConfig(0x400, 654321, {}).storedStream(1));
}

TEST(ConfigTransfer, UpToDateQuestionUploadsExactlyPublicAndMotor) {
    TransferRig rig;
    ASSERT_TRUE(rig.download());
    rig.ui.expect("The config on your Quelvane is up to date.", MessageAnswer::Yes);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    rig.progress.clearHistory();
    ASSERT_TRUE(rig.upload());
    EXPECT_TRUE(rig.ui.scriptDone());
    const auto stored = rig.sim.logLines("stored");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_NE(stored[0].find("into 0x100"), std::string::npos);
    EXPECT_NE(stored[1].find("into 0x102"), std::string::npos);
    EXPECT_EQ(rig.progress.captionHistory(),
              (std::vector<std::string>{"PC -> QV - Reading Config Ver", "PC -> QV - Public Config",
                                        "QV -> FLASH", "PC -> QV - Motor Config", "QV -> FLASH"}));
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        EXPECT_FALSE(rig.store.isModified(k));
    // The controller is reset at the end.
    EXPECT_TRUE(test::eventually([&] { return !rig.sim.logLines("resetting").empty(); }));
}

TEST(ConfigTransfer, OverwriteQuestionListsWhatChangesAgainstTheLastDownload) {
    TransferRig rig;
    ASSERT_TRUE(rig.download());
    rig.lastDownload = takeSnapshot(rig.store);
    rig.store.publicConfig.speedLimit = 6000.0f;
    rig.store.markModified(StructureKind::Public);
    rig.ui.expect("Overwrite config?", MessageAnswer::No);
    EXPECT_FALSE(rig.upload());
    const auto question = rig.ui.shown().at(0);
    EXPECT_EQ(question.text, "Overwrite config?");
    EXPECT_EQ(rig.ui.details().at(0),
              "Changes against the configuration last downloaded from controller 123456:\n"
              "public.speedLimit: 5000 -> 6000\n");
}

// Builds a version-199 file of the store: shorter records, each with its own checksum.
std::vector<std::uint8_t> version199File(CConfigDataBank& store) {
    const auto sizes = sim::layoutSizes(199);
    std::vector<std::uint8_t> out(kConfigHeader.begin(), kConfigHeader.end());
    auto put16 = [&](std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    put16(199);
    for (auto s : sizes) put16(s);
    for (StructureKind kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        for (std::size_t i = 0; i < recordCount(kind); ++i) {
            const auto bytes = store.recordBytes(kind, i);
            std::vector<std::uint8_t> r(bytes.begin(),
                                        bytes.begin() + sizes[static_cast<std::size_t>(kind)]);
            const std::uint16_t sum = computeChecksum(r);
            r[0] = static_cast<std::uint8_t>(sum);
            r[1] = static_cast<std::uint8_t>(sum >> 8);
            out.insert(out.end(), r.begin(), r.end());
        }
    return out;
}

TEST(ConfigTransfer, UpgradeQuestionBFromAnOlderFileSendsVersion200) {
    TransferRig rig("v199");
    CConfigDataBank source;
    source.resetToDefaults();
    source.privateConfig.serialNumber = test::kRigSerial;
    const auto file = version199File(source);
    rig.store.resetToDefaults();
    rig.ui.expect("The loaded config is about to be upgraded.", MessageAnswer::Yes);
    ASSERT_TRUE(loadConfigData(rig.store, file, rig.ui, true, true));
    ASSERT_EQ(rig.store.heldVersion, 199);

    rig.ui.expect("From: 1.99.\r\nTo: 2.00.\r\n\r\nProceed?", MessageAnswer::Yes);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    ASSERT_TRUE(rig.upload());
    EXPECT_TRUE(rig.ui.scriptDone());
    for (int kind = 0; kind < 3; ++kind) {
        const auto stream = rig.storedStream(kind);
        EXPECT_EQ(readU16(stream, 26), 200) << kind;
        EXPECT_EQ(readU16(stream, 28), sim::layoutSizes(200)[static_cast<std::size_t>(kind)]);
    }
}

// An upgrade writes public and motor in full; when the motor structure was not downloaded its
// records are defaults that never came from this controller, so nothing is written.
TEST(ConfigTransfer, UpgradeNeverWritesStructuresThatWereNotDownloaded) {
    TransferRig rig("v199");
    ASSERT_TRUE(rig.download(kDownloadMaskPublic | kDownloadMaskPrivate));
    ASSERT_EQ(rig.store.heldVersion, 199);
    rig.ui.expect("From: 1.99.\r\nTo: 2.00.", MessageAnswer::Yes);
    EXPECT_FALSE(rig.upload());
    EXPECT_TRUE(rig.ui.scriptDone());
    EXPECT_EQ(rig.ui.shown().back().text, "Need to download or open config before uploading");
    EXPECT_TRUE(rig.sim.logLines("stored").empty());
}

TEST(ConfigTransfer, NewerLayoutKeepsItsExtraBytesAndSendsThemBack) {
    TransferRig rig("v201");
    ASSERT_TRUE(rig.download());
    EXPECT_EQ(rig.store.heldVersion, 201);
    ASSERT_EQ(rig.ui.shown().size(), 1u);
    EXPECT_EQ(rig.ui.shown()[0].text, newerVersionNotice().text);
    EXPECT_EQ(rig.store.extraLength(StructureKind::Motor), 10);
    const auto served =
        sim::ControllerConfig(0x400, test::kRigSerial, sim::parseConfigModes("v201"))
            .storedStream(2);
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        const auto extra = rig.store.extraBlock(StructureKind::Motor, i);
        ASSERT_EQ(extra.size(), 10u);
        const std::size_t at = kStreamHeaderSize + i * 160 + kMotorSize;
        EXPECT_TRUE(std::equal(extra.begin(), extra.end(), served.begin() + static_cast<long>(at)));
    }

    rig.store.motor[4].polePairs = 7;
    rig.store.markModified(StructureKind::Motor);
    rig.ui.clear();
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    ASSERT_TRUE(rig.upload());
    const auto stream = rig.storedStream(2);
    EXPECT_EQ(readU16(stream, 26), 201);
    EXPECT_EQ(readU16(stream, 28), 160);
    ASSERT_EQ(stream.size(), served.size());
    // Only pole pairs and the checksum of record 4 changed; every extra byte went back.
    std::size_t differing = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) differing += stream[i] != served[i];
    EXPECT_LE(differing, 3u);
    EXPECT_EQ(readU16(stream, kStreamHeaderSize + 4 * 160 + 2), 7);
}

// A controller in recovery mode may announce the image's own length for its public stream or,
// as the ordinary firmware does, the length of an ordinary public stream (96): the image is
// checked against what arrived, never against the announced length.
TEST(ConfigTransfer, RecoveryImageEndsTheDownloadAfterThePublicStage) {
    for (const std::string mode : {"recovery", "recovery-ordinary-length"}) {
        SCOPED_TRACE(mode);
        TransferRig rig(mode);
        rig.target.configError = true;
        std::array<std::uint8_t, 6> lengths{};
        std::uint16_t got = 6;
        rig.can.configureStream(7, test::kRigBase + 0x12, test::kRigBase + 0x14);
        ASSERT_EQ(rig.can.transfer(&got, lengths.data(), 0x0201, false, false), kTransferOk);
        EXPECT_EQ(readU16(lengths, 0), mode == "recovery" ? 1880 : 96);

        ASSERT_TRUE(rig.download(kDownloadMaskPublic)) << rig.ui.texts().at(0);
        for (StructureKind k :
             {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
            EXPECT_TRUE(rig.store.isValid(k));
            EXPECT_FALSE(rig.store.isModified(k));
        }
        EXPECT_EQ(+rig.store.privateConfig.serialNumber, test::kRigSerial);
        EXPECT_EQ(recordsOf(rig.store, StructureKind::Motor), servedRecords("", 2, kMotorSize));
        EXPECT_EQ(
            rig.progress.captionHistory(),
            (std::vector<std::string>{"QV -> PC - Config", "QV -> PC - Public Config (Recovery)"}));
        EXPECT_EQ(rig.ui.texts(), std::vector<std::string>{olderVersionNotice().text});
        if (mode != "recovery") continue;

        // Writing it back with a device of unknown serial asks about the serial on the unit;
        // every structure goes, and the controller leaves recovery once reset.
        rig.target.serial = 0;
        rig.ui.clear();
        // All three are marked modified, so the up-to-date question is not asked.
        rig.ui.expect(
            "PROCEED WITH THIS UPLOAD ONLY IF THE SERIAL NUMBER ON YOUR QUELVANE "
            "IS:\r\n\r\n123456",
            MessageAnswer::Ok);
        rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
        ASSERT_TRUE(rig.upload());
        EXPECT_FALSE(rig.progress.state().cancelEnabled);
        EXPECT_EQ(rig.sim.logLines("stored").size(), 3u);
        EXPECT_TRUE(test::eventually([&] { return !rig.sim.logLines("resetting").empty(); }));
        rig.sim.stop();
        EXPECT_FALSE(rig.sim.world().controller(0x400)->config().recovery());
    }
}

TEST(ConfigTransfer, MissingFlashAcknowledgementStopsAfterThatStructure) {
    TransferRig rig("no-ack-private");
    ASSERT_TRUE(rig.download());
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        rig.store.markModified(k);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(rig.upload());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_FALSE(rig.store.isModified(StructureKind::Public));
    EXPECT_TRUE(rig.store.isModified(StructureKind::Private));
    EXPECT_TRUE(rig.store.isModified(StructureKind::Motor));
    const auto shown = rig.ui.shown();
    EXPECT_EQ(shown.back().text, "Config write acknowledge timeout");
    EXPECT_EQ(shown.back().caption, "Download");
    EXPECT_EQ(rig.sim.logLines("stored").size(), 2u);  // the motor structure was never sent
    EXPECT_TRUE(rig.sim.logLines("resetting").empty());
}

TEST(ConfigTransfer, RoundTripThroughAFileLeavesTheControllersBytesIdentical) {
    TransferRig rig;
    ASSERT_TRUE(rig.download());
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("qv_round_trip_" + std::to_string(::getpid()) + "_" + std::to_string(rig.port));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "backup.cfg").string();
    ASSERT_TRUE(saveConfigFile(rig.store, path, rig.ui));

    CConfigDataBank loaded;
    ASSERT_TRUE(loadConfigFile(loaded, path, rig.ui, true, true));
    TransferContext c{rig.can, loaded, rig.target, rig.ui, rig.progress};
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    ASSERT_TRUE(uploadConfig(c));
    EXPECT_EQ(rig.sim.logLines("stored").size(), 3u);
    std::filesystem::remove_all(dir);
    const sim::ControllerConfig fresh(0x400, test::kRigSerial, {});
    for (int kind = 0; kind < 3; ++kind)
        EXPECT_EQ(rig.storedStream(kind), fresh.storedStream(kind));
}

}  // namespace
}  // namespace qv
