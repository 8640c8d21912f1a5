#pragma once
// The program's windows with the real DuvodaRezir, PM and induction-motor extraction windows, on a
// fake bridge client (frames pushed in by the test) or on the real client against the simulator.
// The motor selector answers from the test, and the tools' clock can be held still.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <cstring>

#include "ui/commissioning_windows.h"
#include "ui/plot_widget.h"
#include "ui_rig.h"

namespace qv::test {

inline constexpr std::uint32_t kRigToolBase = 0x400;

struct ToolRigOptions {
    std::optional<BridgeSettings> bridge;  // the real client; without: a fake one
    std::unique_ptr<ConfigTransferService> transfer;
    bool fakeClock = false;  // the tools' clock moves only with advance()
    // The induction-motor extraction's fits; without: its own worker thread.
    std::function<std::unique_ptr<ImFitRunner>()> imFitRunner;
};

class ToolRig : public UiRig {
  public:
    using Options = ToolRigOptions;

    explicit ToolRig(Options options = {})
        : UiRig(options.bridge, [this, &options](UiRig&) { install(options); }) {}

    CConfigDataBank& store() { return app->store(); }
    ui::CDuvodaRezir* duvoda() { return window->findChild<ui::CDuvodaRezir*>("id104"); }
    ui::CParamExtract* pm() { return window->findChild<ui::CParamExtract*>("id106"); }
    ui::CImExtract* im() { return window->findChild<ui::CImExtract*>("id143"); }

    // The device at kRigToolBase announces itself and is selected; its configuration is held.
    void selectDevice(const PrivateConfig& calibration) {
        announce(kRigToolBase, "KX01", 123456);
        logic().onTimer();
        store().privateConfig = calibration;
        for (const auto kind :
             {StructureKind::Public, StructureKind::Private, StructureKind::Motor})
            store().setValid(kind, true);
    }
    std::vector<CanFrame> queued() {
        std::lock_guard l(client.mutex);
        return client.queued;
    }
    void advance(double ms) { clockMs += ms; }

    int chosenMotor = 6;
    int selectorRuns = 0;
    QString verdictAtSelector;
    QString imStatusAtSelector;
    double clockMs = 1000;

  private:
    // Runs inside UiRig's constructor, before the windows are made; what it sets up reads this
    // object's members only later.
    void install(Options& options) {
        if (options.transfer) app->setTransferService(std::move(options.transfer));
        ui::ToolWindowServices services =
            ui::applicationToolServices(*app, ui, [this](QWidget*, const CConfigDataBank&) {
                ++selectorRuns;
                // The results are on screen when the user picks the record.
                verdictAtSelector = duvoda()->verdict()->text();
                imStatusAtSelector = im()->status()->text();
                return chosenMotor;
            });
        if (options.fakeClock) services.clock = [this] { return clockMs; };
        factory.setToolCreator(Tool::DuvodaRezir, [services](QWidget* owner) {
            return std::make_unique<ui::CommissioningToolWindow>(
                new ui::CDuvodaRezir(services, owner));
        });
        factory.setToolCreator(Tool::PmExtraction, [services](QWidget* owner) {
            return std::make_unique<ui::CommissioningToolWindow>(
                new ui::CParamExtract(services, owner));
        });
        factory.setToolCreator(
            Tool::ImExtraction, [services, runner = options.imFitRunner](QWidget* owner) {
                return std::make_unique<ui::CommissioningToolWindow>(
                    new ui::CImExtract(services, owner, runner ? runner() : nullptr));
            });
    }
};

// Records the uploads and downloads asked for; every one succeeds.
class RecordingTransfer : public ConfigTransferService {
  public:
    bool download(std::int32_t mask) override {
        note("download " + std::to_string(mask));
        return true;
    }
    bool upload() override {
        note("upload");
        return true;
    }
    bool reset() override { return true; }
    std::vector<std::string> calls() {
        std::lock_guard l(mutex_);
        return calls_;
    }

  private:
    void note(const std::string& c) {
        std::lock_guard l(mutex_);
        calls_.push_back(c);
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

inline std::vector<std::uint8_t> recordBytes(const CConfigDataBank& store) {
    std::vector<std::uint8_t> out(sizeof store.motor);
    std::memcpy(out.data(), &store.motor, sizeof store.motor);
    return out;
}

// The one box shown since the last look contains `text`.
inline void expectOneMessageWith(ScriptedUi& ui, const std::string& text) {
    const auto messages = ui.takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(text), std::string::npos) << messages[0];
}

}  // namespace qv::test
