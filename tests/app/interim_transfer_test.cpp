// The interim configuration transfer behind the worker: the device is taken on the GUI thread
// when a job starts, and without one nothing reaches the port.
#include "app/interim_transfer_service.h"

#include <gtest/gtest.h>

#include "app_rig.h"

namespace qv {
namespace {

TEST(InterimTransfer, WithoutASelectedDeviceAJobFailsAndTouchesNothing) {
    test::FakeClient::Log log;
    CBcan port([&log] { return std::make_unique<test::FakeClient>(log); });
    ASSERT_EQ(port.open(), 1);
    CConfigDataBank store;
    test::ScriptedUi ui;
    int asked = 0;
    InterimTransferService service(port, store, ui, [&]() -> std::optional<TransferTarget> {
        ++asked;
        return std::nullopt;
    });
    EXPECT_TRUE(service.available());
    test::QueuedPoster poster;
    TransferThread worker;
    for (const TransferDirection d :
         {TransferDirection::Download, TransferDirection::Upload, TransferDirection::Reset}) {
        service.prepare();
        ASSERT_TRUE(worker.start({d, kDownloadPublic, kActionOpenControls}, service, poster));
        test::QueuedPoster::Done done{};
        ASSERT_TRUE(poster.waitDone(done));
        worker.join();
        EXPECT_EQ(done.action, kActionOpenControls);
        EXPECT_TRUE(done.failed);
    }
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(log.calls, std::vector<std::string>{"open"});
    EXPECT_TRUE(log.sent.empty());
    EXPECT_FALSE(store.isValid(StructureKind::Public));
    port.close();
}

}  // namespace
}  // namespace qv
