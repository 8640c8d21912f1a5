// The main window's part in a commissioning tool's run: the tick leaves the CAN port's queue to
// a tool whose acquisition waits, and the tool's write-back uploads through the transfer worker.
#include <gtest/gtest.h>

#include "app_rig.h"

namespace qv {
namespace {

using test::DialogRig;

struct Selected : DialogRig {
    Selected() {
        make();
        announce(0x400, "KX01", 111);
        dialog->onTimer();
    }
};

TEST(ToolAcquisitionTick, TheQueueWaitsForTheAcquiringToolAndDrainsAgainAfterwards) {
    Selected rig;
    ASSERT_EQ(rig.port.queuedPackets(), 0u);
    rig.tool(Tool::PmExtraction).acquiringNow = true;
    rig.frame(0x410, {1, 0, 2, 0, 3, 0, 2, 0});  // the status the tool waits for
    rig.frame(0x401, {});                        // telemetry, for the tool's window to pass on
    rig.dialog->onTimer();
    rig.dialog->onTimer();
    EXPECT_EQ(rig.port.queuedPackets(), 2u) << "the tick took the tool's frames";
    // The rest of the tick still runs: the countdowns move on.
    EXPECT_EQ(rig.dialog->purgeCountdown(), CQVDrvCtrlsDlg::kPurgeTicks - 3);

    rig.tool(Tool::PmExtraction).acquiringNow = false;
    rig.dialog->onTimer();
    EXPECT_EQ(rig.port.queuedPackets(), 0u);
}

TEST(ToolUpload, UploadsEverythingWithTheToolsActionAndReportsIt) {
    Selected rig;
    EXPECT_TRUE(rig.dialog->startToolUpload(kActionSelectPmTool));
    EXPECT_EQ(rig.dialog->transferJob().direction, TransferDirection::Upload);
    EXPECT_EQ(rig.dialog->transferJob().mask, kDownloadAll);
    EXPECT_EQ(rig.dialog->transferJob().action, kActionSelectPmTool);
    test::QueuedPoster::Done done{};
    ASSERT_TRUE(rig.poster.waitDone(done));
    EXPECT_EQ(done.action, kActionSelectPmTool);
    EXPECT_FALSE(done.failed);
    rig.dialog->joinTransfer();
    EXPECT_EQ(rig.transfer.takeCalls(), std::vector<std::string>{"upload"});

    // Without a transfer service the user hears why, and nothing starts.
    rig.transfer.isAvailable = false;
    EXPECT_FALSE(rig.dialog->startToolUpload(kActionSelectDuvodaRezir));
    EXPECT_EQ(rig.ui.takeMessages(), std::vector<std::string>{kTransferUnavailableText});
    EXPECT_TRUE(rig.transfer.takeCalls().empty());
}

}  // namespace
}  // namespace qv
