// The upload's version decision, the texts of the transfer questions with their numbers, the
// progress window's state, and the change list shown before "Overwrite config?".
#include <gtest/gtest.h>

#include "config/config_changes.h"
#include "config/config_progress.h"
#include "config/transfer_messages.h"

namespace qv {
namespace {

TEST(UploadVersionDecision, FollowsTheTable) {
    using S = UploadVersionStep;
    EXPECT_EQ(uploadVersionStep(true, 199, 200), S::OlderThanRequired);
    EXPECT_EQ(uploadVersionStep(false, 200, 201), S::OlderThanRequired);
    EXPECT_EQ(uploadVersionStep(false, 200, 200), S::UpToDateQuestion);
    EXPECT_EQ(uploadVersionStep(false, 201, 199), S::UpToDateQuestion);
    EXPECT_EQ(uploadVersionStep(true, 200, 200), S::Proceed);
    EXPECT_EQ(uploadVersionStep(true, 201, 201), S::Proceed);
    EXPECT_EQ(uploadVersionStep(true, 201, 200), S::UpgradeQuestionA);
    EXPECT_EQ(uploadVersionStep(false, 199, 199), S::UpgradeQuestionB);
    EXPECT_EQ(uploadVersionStep(true, 199, 199), S::UpgradeQuestionB);
    EXPECT_EQ(uploadVersionStep(true, 199, 150), S::UpgradeQuestionA);
    EXPECT_EQ(uploadVersionStep(false, 0, 0), S::UpgradeQuestionB);
}

TEST(TransferMessages, CarryTheirNumbersInTheirPlaces) {
    EXPECT_EQ(upgradeQuestionA(199, 201).text,
              "The config on your Quelvane is about to be upgraded.\r\n\r\nFrom: 1.99.\r\n\r\nTo: "
              "2.01.\r\n\r\nProceed?");
    EXPECT_EQ(upgradeQuestionB(199).text,
              "The config on your Quelvane is about to be upgraded.\r\n\r\nFrom: 1.99.\r\nTo: "
              "2.00.\r\n\r\nProceed?");
    const auto overwrite = overwriteOtherControllerQuestion(654321, 42);
    EXPECT_EQ(overwrite.text,
              "Overwrite config for controller 654321 with config for controller 000042.");
    EXPECT_EQ(overwrite.buttons, MessageButtons::OkCancel);
    EXPECT_EQ(overwrite.defaultAnswer, MessageAnswer::Cancel);
    EXPECT_NE(corruptConfigurationQuestion(7).text.find("IS:\r\n\r\n000007\r\n\r\nIf you"),
              std::string::npos);
    const auto last = overwriteQuestion();
    EXPECT_EQ(last.buttons, MessageButtons::YesNo);
    EXPECT_EQ(last.icon, MessageIcon::Information);
    EXPECT_EQ(last.defaultAnswer, MessageAnswer::No);
    EXPECT_EQ(downloadStageFailure(StructureKind::Motor, StreamParseResult::NoValidHeader)->text,
              "No valid motor config file on the Quelvane");
    EXPECT_EQ(downloadStageFailure(StructureKind::Public, StreamParseResult::SizeMismatch)->text,
              "Public config size mismatch");
    EXPECT_EQ(
        downloadStageFailure(StructureKind::Private, StreamParseResult::ChecksumMismatch)->text,
        "Private Config checksum mismatch");
    EXPECT_FALSE(downloadStageFailure(StructureKind::Private, StreamParseResult::Aborted));
    EXPECT_EQ(resetFailedMessage().caption, "Reset");
}

TEST(ConfigProgress, BarFollowsTheBytesMovedWhileEnabledAndCancelWorksOnce) {
    CConfigProg window;
    int changes = 0;
    window.setChangeListener([&] { ++changes; });
    window.setRange(300);
    window.advance(50);  // not shown yet: the bar stays
    EXPECT_EQ(window.state().position, 0u);
    window.showAndEnable();
    window.setCaption("QV -> PC - Config");
    window.setCaption("QV -> PC - Config");
    window.advance(140);
    window.advance(140);
    window.advance(140);
    EXPECT_EQ(window.state().position, 300u);  // a bar never goes past its range
    EXPECT_TRUE(window.state().cancelEnabled);
    EXPECT_EQ(window.captionHistory(), std::vector<std::string>{"QV -> PC - Config"});
    EXPECT_GT(changes, 0);

    CConfigDataBank store;
    CBcan port;  // never opened: Cancel only sets the event
    window.pressCancel(store, port);
    EXPECT_FALSE(window.state().cancelEnabled);
    EXPECT_TRUE(store.cancelEvent.tryWait());
    window.pressCancel(store, port);  // the button is disabled now
    EXPECT_FALSE(store.cancelEvent.tryWait());
    window.disableAndHide();
    window.showAndEnable();
    EXPECT_TRUE(window.state().cancelEnabled);  // enabled again each time it is shown
}

TEST(ConfigChanges, ListFieldsThatDifferInDumpOrder) {
    CConfigDataBank a, b;
    a.resetToDefaults();
    b.resetToDefaults();
    b.publicConfig.canBaseAddress = 0x440;
    b.privateConfig.rail15V.offset = 0.25f;
    b.motor[3].hallPrevious[2] = 6;
    setDescription(b.motor[9], "Hub motor");
    b.readOnly.firmwareBuild = 99;
    b.refreshChecksums(false);
    const auto d = diffConfigs(a, b);
    EXPECT_EQ(formatDiffLines(d),
              "public canBaseAddress 0x400 0x440\n"
              "private rail15V.offset 0 0.25\n"
              "motor[3] hallPrevious[2] 3 6\n"
              "motor[9] description \"DOZAZ surface\" \"Hub motor\"\n"
              "readOnly firmwareBuild 0 99\n");
    DiffScope withChecksums;
    withChecksums.checksums = true;
    EXPECT_EQ(diffConfigs(a, b, withChecksums).size(), d.size() + 4);
    EXPECT_TRUE(diffConfigs(a, a).empty());
}

TEST(ConfigChanges, UploadListCoversOnlyTheStructuresToBeWritten) {
    CConfigDataBank last;
    last.resetToDefaults();
    last.setValid(StructureKind::Public, true);
    last.setValid(StructureKind::Motor, true);
    const ConfigSnapshot snapshot = takeSnapshot(last);
    CConfigDataBank next;
    next.resetToDefaults();
    next.publicConfig.speedLimit = 7000.0f;
    next.motor[0].maxId = 25.0f;
    next.privateConfig.baseCurrent = 1.0f;
    next.markModified(StructureKind::Public);
    next.markModified(StructureKind::Private);
    EXPECT_EQ(describeUploadChanges(next, &snapshot, 1234),
              "Changes against the configuration last downloaded from controller 001234:\n"
              "private: not downloaded before, every field is written\n"
              "public.speedLimit: 5000 -> 7000\n");
    next.publicConfig.speedLimit = 5000.0f;
    next.clearModified(StructureKind::Private);
    EXPECT_NE(describeUploadChanges(next, &snapshot, 1234).find("no field differs"),
              std::string::npos);
    EXPECT_EQ(describeUploadChanges(next, nullptr, 1234), "");
}

}  // namespace
}  // namespace qv
