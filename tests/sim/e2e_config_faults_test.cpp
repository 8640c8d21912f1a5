// What a configuration transfer leaves behind when it fails half way: cancel, a controller that
// stops answering, a bad checksum, a lost TCP connection, a controller reset mid-stream. A
// structure is marked valid only with exactly the bytes the controller holds, and an upload
// reports a structure written only when the controller stored it. A write whose closing
// exchange was lost counts once the controller acknowledges it.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "config/transfer_messages.h"
#include "config_transfer_rig.h"
#include "sim/controller_config.h"
#include "support/store_records.h"

namespace qv {
namespace {

using test::TransferRig;
constexpr double kDelayMs = 30;  // every frame to the program held this long: stages take time

using test::recordsOf;

std::vector<std::uint8_t> defaultsOf(StructureKind kind) {
    CConfigDataBank s;
    s.resetToDefaults();
    return recordsOf(s, kind);
}

std::vector<std::uint8_t> servedRecords(StructureKind kind) {
    const auto stream = sim::ControllerConfig(test::kRigBase, test::kRigSerial, {})
                            .storedStream(static_cast<int>(kind));
    return {stream.begin() + kStreamHeaderSize, stream.end()};
}

// Valid means exactly what the controller holds; not valid means the defaults, untouched.
void expectNothingValidWithBadData(const CConfigDataBank& store) {
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        if (store.isValid(k))
            EXPECT_EQ(recordsOf(store, k), servedRecords(k)) << static_cast<int>(k);
        else
            EXPECT_EQ(recordsOf(store, k), defaultsOf(k)) << static_cast<int>(k);
    }
}

// Runs `operation` on a worker thread, as the program's transfer thread does, and calls `fault`
// from this thread once the bar has moved inside the stage captioned `stage`.
template <typename Operation, typename Fault>
bool runWithFault(TransferRig& rig, const std::string& stage, std::uint32_t movedBefore,
                  Operation operation, Fault fault) {
    bool result = true;
    std::thread worker([&] { result = operation(); });
    const bool reached = test::eventually([&] {
        const auto s = rig.progress.state();
        return s.caption == stage && s.position > movedBefore;
    });
    if (reached) fault();
    worker.join();
    EXPECT_TRUE(reached) << "the stage " << stage << " was never seen moving";
    return result;
}

struct Fault {
    const char* name;
    const char* command;  // posted to the simulator; empty: the progress window's Cancel
    const char* message;  // the box shown; empty: none
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

// The simulator command, or the progress window's Cancel.
void inject(TransferRig& rig, const Fault& f) {
    if (*f.command)
        rig.sim.world().post(f.command);
    else
        rig.progress.pressCancel(rig.store, rig.can);
}

class DownloadFault : public ::testing::TestWithParam<Fault> {};

TEST_P(DownloadFault, DuringThePrivateStreamLeavesOnlyThePublicStructureValid) {
    const Fault f = GetParam();
    TransferRig rig("", kDelayMs);
    const bool ok = runWithFault(
        rig, "QV -> PC - Private Config", 96, [&] { return rig.download(); },
        [&] { inject(rig, f); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(rig.store.isValid(StructureKind::Public));
    EXPECT_FALSE(rig.store.isValid(StructureKind::Private));
    EXPECT_FALSE(rig.store.isValid(StructureKind::Motor));
    expectNothingValidWithBadData(rig.store);
    if (*f.message)
        EXPECT_EQ(rig.ui.texts(), std::vector<std::string>{f.message});
    else
        EXPECT_TRUE(rig.ui.shown().empty());
    // The ending hid the window and consumed the cancel.
    EXPECT_FALSE(rig.progress.state().visible);
    EXPECT_FALSE(rig.store.cancelEvent.tryWait());
}

INSTANTIATE_TEST_SUITE_P(
    ConfigFaults, DownloadFault,
    ::testing::Values(Fault{"Cancel", "", ""},
                      Fault{"SilentController", "mute 0x400", "Stream transfer failure"},
                      Fault{"LostTcpConnection", "droptcp", "Stream transfer failure"},
                      Fault{"ControllerReset", "reset 0x400", "Stream transfer failure"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigFaults, ChecksumErrorLeavesThatStructureAndTheRestAtTheirDefaults) {
    TransferRig rig("corrupt-private");
    EXPECT_FALSE(rig.download());
    EXPECT_EQ(rig.ui.texts(), std::vector<std::string>{"Private Config checksum mismatch"});
    EXPECT_TRUE(rig.store.isValid(StructureKind::Public));
    EXPECT_FALSE(rig.store.isValid(StructureKind::Private));
    expectNothingValidWithBadData(rig.store);
}

TEST(ConfigFaults, CancelBeforeAStageEndsWithoutAMessage) {
    TransferRig rig;
    rig.store.cancelEvent.set();
    EXPECT_FALSE(rig.download());
    EXPECT_TRUE(rig.ui.shown().empty());
    EXPECT_FALSE(rig.store.isValid(StructureKind::Public));
    EXPECT_FALSE(rig.store.cancelEvent.tryWait());
}

class UploadFault : public ::testing::TestWithParam<Fault> {};

// A structure reported written (modified flag cleared) is on the controller; the others are not
// reported, and the upload is a failure.
TEST_P(UploadFault, DuringThePrivateStreamReportsOnlyWhatTheControllerStored) {
    const Fault f = GetParam();
    TransferRig rig("", kDelayMs);
    ASSERT_TRUE(rig.download());
    rig.store.publicConfig.speedLimit = 4321.0f;
    rig.store.privateConfig.baseVoltage = 999.0f;
    rig.store.motor[9].polePairs = 3;
    for (StructureKind k : {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
        rig.store.markModified(k);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    const bool ok = runWithFault(
        rig, "PC -> QV - Private Config", 2 * 96, [&] { return rig.upload(); },
        [&] { inject(rig, f); });
    EXPECT_FALSE(ok);
    EXPECT_FALSE(rig.store.isModified(StructureKind::Public));
    EXPECT_TRUE(rig.store.isModified(StructureKind::Private));
    EXPECT_TRUE(rig.store.isModified(StructureKind::Motor));
    rig.store.refreshChecksums(true);
    EXPECT_EQ(rig.storedStream(0), buildUploadStream(rig.store, StructureKind::Public));
    EXPECT_EQ(rig.storedStream(1),
              sim::ControllerConfig(0x400, test::kRigSerial, {}).storedStream(1));
    EXPECT_EQ(rig.storedStream(2),
              sim::ControllerConfig(0x400, test::kRigSerial, {}).storedStream(2));
    if (*f.message)
        EXPECT_EQ(rig.ui.shown().back().text, f.message);
    else
        EXPECT_EQ(rig.ui.shown().back().text, "Overwrite config?");
}

INSTANTIATE_TEST_SUITE_P(
    ConfigFaults, UploadFault,
    ::testing::Values(Fault{"Cancel", "", ""},
                      Fault{"SilentController", "mute 0x400", "Stream transfer failure"},
                      Fault{"LostTcpConnection", "droptcp", "Stream transfer failure"}),
    [](const auto& info) { return std::string(info.param.name); });

// The controller stored the structure but the Close (2) that ends the stream never arrived; its
// acknowledgement comes too late for the stream engine to take it as the close.
TEST(ConfigFaults, AWriteWhoseCloseWasLostCountsOnceAcknowledged) {
    TransferRig rig("lose-close,slow-flash");
    ASSERT_TRUE(rig.download());
    rig.store.privateConfig.baseCurrent = 555.0f;
    rig.store.markModified(StructureKind::Private);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    EXPECT_TRUE(rig.upload());
    EXPECT_FALSE(rig.store.isModified(StructureKind::Private));
    EXPECT_EQ(rig.ui.shown().size(), 1u);
    EXPECT_EQ(rig.sim.logLines("lost the Close (2)").size(), 1u);
    rig.store.refreshChecksums(true);
    EXPECT_EQ(rig.storedStream(1), buildUploadStream(rig.store, StructureKind::Private));
}

TEST(ConfigFaults, ALostCloseWithoutAcknowledgementIsATransferFailure) {
    TransferRig rig("lose-close,no-ack");
    ASSERT_TRUE(rig.download());
    rig.store.markModified(StructureKind::Public);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    EXPECT_FALSE(rig.upload());
    EXPECT_TRUE(rig.store.isModified(StructureKind::Public));
    EXPECT_EQ(rig.ui.shown().back().text, "Stream transfer failure");
    EXPECT_EQ(rig.ui.shown().back().caption, "Download");
}

}  // namespace
}  // namespace qv
