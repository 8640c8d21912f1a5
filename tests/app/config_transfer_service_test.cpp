// The main window's configuration transfer against the simulator over loopback: the device
// taken when the job starts, the store held from then until the job's end is handled, the
// main-window effects applied on the GUI thread, and the configuration remembered per
// controller for the change list of the next upload.
#include "app/config_transfer_service.h"

#include <gtest/gtest.h>

#include <deque>

#include "app/app_rig.h"
#include "config/transfer_messages.h"
#include "support/loopback.h"
#include "support/ports.h"
#include "support/process.h"

#ifdef QV_SIM_PATH

namespace qv {
namespace {

constexpr std::uint32_t kBaseA = 0x400;
constexpr std::uint32_t kSerialA = 123456;
constexpr std::uint32_t kBaseB = 0x200;
constexpr std::uint32_t kSerialB = 654321;

// Questions answered in the order scripted; boxes with OK only are answered OK. Usable from
// the worker thread.
class AnswerScript : public UserInteraction {
  public:
    void expect(std::string text, MessageAnswer answer) {
        std::lock_guard l(mutex_);
        script_.emplace_back(std::move(text), answer);
    }
    MessageAnswer messageBox(const MessageBoxRequest& r) override {
        std::lock_guard l(mutex_);
        texts_.push_back(r.text);
        if (r.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
        if (script_.empty()) {
            ADD_FAILURE() << "unexpected question: " << r.text;
            return r.defaultAnswer;
        }
        auto [text, answer] = script_.front();
        script_.pop_front();
        EXPECT_NE(r.text.find(text), std::string::npos) << r.text;
        return answer;
    }
    MessageAnswer messageBoxWithDetails(const MessageBoxRequest& r,
                                        const std::string& details) override {
        {
            std::lock_guard l(mutex_);
            details_.push_back(details);
        }
        return messageBox(r);
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override { return {}; }
    std::vector<std::string> texts() {
        std::lock_guard l(mutex_);
        return texts_;
    }
    std::vector<std::string> details() {
        std::lock_guard l(mutex_);
        return details_;
    }

  private:
    std::mutex mutex_;
    std::deque<std::pair<std::string, MessageAnswer>> script_;
    std::vector<std::string> texts_;
    std::vector<std::string> details_;
};

class ServiceRig {
  public:
    ServiceRig()
        : simPort_(test::freePort()),
          sim_(QV_SIM_PATH,
               {"--port", std::to_string(simPort_), "--device",
                "0x400:" + std::to_string(kSerialA) + ":KX01", "--device",
                "0x200:" + std::to_string(kSerialB) + ":KX02"},
               "qvsim ready"),
          port(
              [p = simPort_] { return std::make_unique<CanUdpClient>(test::loopbackSettings(p)); }),
          service(port, store, ui, hooks()) {
        EXPECT_TRUE(sim_.ready());
        EXPECT_EQ(port.open(), 1);
        select(kBaseA, kSerialA);
    }
    ~ServiceRig() {
        worker.join();
        port.close();
    }

    void select(std::uint32_t base, std::uint32_t serial) {
        target = TransferTarget{base, serial, net::kLoopback, false, "KX01"};
    }
    TransferServiceHooks hooks() {
        TransferServiceHooks h;
        h.selectedTarget = [this] { return target; };
        h.portProgressHook = [this]() -> CBcan::ProgressHook {
            return [this](std::uint16_t bytes) { posted += bytes; };
        };
        h.clearFallbackDriverControlsBase = [this] { ++fallbackCleared; };
        return h;
    }
    // As the main window runs a job: prepare, the worker, WM_TRANSFER_DONE, finished.
    bool run(TransferJob job, const std::function<void()>& beforeDone = {}) {
        service.prepare();
        EXPECT_TRUE(worker.start(job, service, poster));
        test::QueuedPoster::Done done{};
        EXPECT_TRUE(poster.waitDone(done));
        worker.join();
        if (beforeDone) beforeDone();
        service.finished();
        return !done.failed;
    }
    bool download(std::int32_t mask = kDownloadMaskAll) {
        return run({TransferDirection::Download, mask, kActionRefreshConfiguration});
    }

  private:
    std::uint16_t simPort_;
    test::BackgroundProcess sim_;

  public:
    CBcan port;
    CConfigDataBank store;
    AnswerScript ui;
    std::optional<TransferTarget> target;
    std::atomic<std::uint64_t> posted{0};
    int fallbackCleared = 0;
    ControllerTransferService service;
    TransferThread worker;
    test::QueuedPoster poster;
};

TEST(ControllerTransferService, ADownloadHoldsThePagesOffUntilItsEndIsHandled) {
    ServiceRig rig;
    bool heldAtDone = false;
    int clearedAtDone = -1;
    ASSERT_TRUE(rig.run({TransferDirection::Download, kDownloadMaskAll, 3}, [&] {
        heldAtDone = transferRunning(rig.store);
        clearedAtDone = rig.fallbackCleared;
    }));
    // Between the worker's end and WM_TRANSFER_DONE the store is still the transfer's, and the
    // main window's state was not touched from the worker.
    EXPECT_TRUE(heldAtDone);
    EXPECT_EQ(clearedAtDone, 0);
    EXPECT_FALSE(transferRunning(rig.store));
    EXPECT_EQ(rig.fallbackCleared, 1);
    for (auto kind : {StructureKind::Public, StructureKind::Private, StructureKind::Motor}) {
        EXPECT_TRUE(rig.store.isValid(kind));
        EXPECT_FALSE(rig.store.isModified(kind));
    }
    EXPECT_EQ(rig.store.privateConfig.serialNumber, kSerialA);
    EXPECT_EQ(rig.store.publicConfig.canBaseAddress, kBaseA);
    // Every chunk of the three streams went on to the main window's poster; the window's
    // captions came in stage order and it is hidden again.
    EXPECT_EQ(rig.posted, 96u + 310u + 1530u);
    EXPECT_EQ(
        rig.service.progress().captionHistory(),
        (std::vector<std::string>{caption::kDownload, caption::kDownloadMaskPublic,
                                  caption::kDownloadMaskPrivate, caption::kDownloadMaskMotor}));
    EXPECT_FALSE(rig.service.progress().state().visible);
    EXPECT_TRUE(rig.ui.texts().empty());

    // Only the structures asked for; the public one still replaces the fallback base.
    rig.service.progress().clearHistory();
    ASSERT_TRUE(rig.download(kDownloadMaskPublic));
    EXPECT_FALSE(rig.store.isValid(StructureKind::Private));
    EXPECT_EQ(rig.fallbackCleared, 2);
    EXPECT_EQ(rig.service.progress().captionHistory().size(), 2u);
}

TEST(ControllerTransferService, WithoutASelectedDeviceNothingStartsAndTheUserIsTold) {
    ServiceRig rig;
    rig.target.reset();
    EXPECT_FALSE(rig.download());
    EXPECT_FALSE(rig.run({TransferDirection::Reset, 0, kActionNone}));
    EXPECT_EQ(rig.ui.texts(),
              (std::vector<std::string>{kNoDeviceSelectedText, kNoDeviceSelectedText}));
    EXPECT_TRUE(rig.service.progress().captionHistory().empty());
    EXPECT_EQ(rig.posted, 0u);
    EXPECT_FALSE(transferRunning(rig.store));
}

// The change list comes from the configuration last downloaded from that very controller, and
// after an upload it is what was written.
TEST(ControllerTransferService, UploadListsChangesAgainstThatControllersLastDownload) {
    ServiceRig rig;
    ASSERT_TRUE(rig.download());
    const float speed = rig.store.publicConfig.speedLimit;
    rig.store.publicConfig.speedLimit = 4321.0f;
    rig.store.markModified(StructureKind::Public);
    rig.ui.expect("Overwrite config?", MessageAnswer::Yes);
    ASSERT_TRUE(rig.run({TransferDirection::Upload, kDownloadMaskAll, kActionNone}));
    ASSERT_EQ(rig.ui.details().size(), 1u);
    const std::string details = rig.ui.details()[0];
    EXPECT_NE(details.find("controller 123456"), std::string::npos) << details;
    EXPECT_NE(details.find("public.speedLimit: "), std::string::npos) << details;
    EXPECT_NE(details.find("-> 4321"), std::string::npos) << details;
    EXPECT_EQ(details.find("private."), std::string::npos) << details;
    const ConfigSnapshot* known = rig.service.lastDownload(kBaseA, kSerialA);
    ASSERT_NE(known, nullptr);
    EXPECT_EQ(known->publicConfig.speedLimit, 4321.0f);
    EXPECT_NE(speed, 4321.0f);
    EXPECT_FALSE(rig.store.isModified(StructureKind::Public));

    // The other controller was never downloaded: its upload has nothing to list against, and
    // the first controller's copy is not used for it.
    rig.select(kBaseB, kSerialB);
    rig.store.markModified(StructureKind::Public);
    rig.ui.expect("Overwrite config for controller 654321 with config for controller 123456",
                  MessageAnswer::Ok);
    rig.ui.expect("Overwrite config?", MessageAnswer::No);
    EXPECT_FALSE(rig.run({TransferDirection::Upload, kDownloadMaskAll, kActionNone}));
    ASSERT_EQ(rig.ui.details().size(), 2u);
    EXPECT_EQ(rig.ui.details()[1], "");
    EXPECT_EQ(rig.service.lastDownload(kBaseB, kSerialB), nullptr);
}

}  // namespace
}  // namespace qv

#endif
