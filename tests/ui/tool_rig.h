#pragma once
// The program's windows with the real DuvodaRezir and PM extraction windows, on a fake bridge
// client (frames pushed in by the test) or on the real client against the simulator. The motor
// selector answers from the test, and the clock can be held still.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstring>

#include "app/app_rig.h"
#include "app/qv_drv_ctrls_app.h"
#include "ui/colour_static.h"
#include "ui/commissioning_windows.h"
#include "ui/main_window.h"
#include "ui/plot_widget.h"
#include "ui/qt_windows.h"

namespace qv::test {

inline constexpr std::uint32_t kToolBase = 0x400;

struct ToolRigOptions {
    std::optional<BridgeSettings> bridge;  // the real client; without: a fake one
    std::unique_ptr<ConfigTransferService> transfer;
    bool fakeClock = false;  // the tools' clock moves only with advance()
};

class ToolRig {
  public:
    using Options = ToolRigOptions;

    explicit ToolRig(Options options = {}) {
        AppSettings s;
        s.settingsPath = dir.file("settings.ini");
        s.logDirectory = dir.path();
        if (options.bridge)
            s.bridge = *options.bridge;
        else
            s.clientFactory = [this] { return std::make_unique<FakeClient>(client); };
        app = std::make_unique<CQVDrvCtrlsApp>(s, ui, factory);
        if (options.transfer) app->setTransferService(std::move(options.transfer));
        ui::ToolWindowServices services =
            ui::applicationToolServices(*app, ui, [this](QWidget*, const CConfigDataBank&) {
                ++selectorRuns;
                // The results are on screen when the user picks the record.
                verdictAtSelector = duvoda() ? duvoda()->verdict()->text() : QString();
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
        app->start();
        window = static_cast<ui::QtMainSide*>(app->mainWindow())->window();
        window->show();
        QApplication::processEvents();
    }
    ~ToolRig() {
        app.reset();
        QApplication::processEvents();
    }

    CQVDrvCtrlsDlg& logic() { return *app->dialog(); }
    CConfigDataBank& store() { return app->store(); }
    ui::CDuvodaRezir* duvoda() {
        return window ? window->findChild<ui::CDuvodaRezir*>("id104") : nullptr;
    }
    ui::CParamExtract* pm() { return window->findChild<ui::CParamExtract*>("id106"); }
    ui::CColourStatic* cell(int id) {
        return window->findChild<ui::CColourStatic*>(QString("id%1").arg(id));
    }

    // The device at kToolBase announces itself and is selected; its configuration is held.
    void selectDevice(const PrivateConfig& calibration) {
        announce(kToolBase, "KX01", 123456);
        logic().onTimer();
        holdConfiguration(calibration);
    }
    void holdConfiguration(const PrivateConfig& calibration) {
        store().privateConfig = calibration;
        store().setValid(StructureKind::Public, true);
        store().setValid(StructureKind::Private, true);
        store().setValid(StructureKind::Motor, true);
    }
    void announce(std::uint32_t base, const char* product, std::uint32_t serial) {
        CanFrame::Data d{};
        for (std::size_t i = 0; i < 4; ++i) d[i] = static_cast<std::uint8_t>(product[i]);
        for (std::size_t i = 0; i < 4; ++i) d[4 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
        frame(base, d);
    }
    void frame(std::uint32_t id, const CanFrame::Data& data) {
        CanPacket p;
        p.frame = CanFrame(id, false, false, 8, data);
        app->port().onPacketReceived(p);
    }
    std::vector<CanFrame> queued() {
        std::lock_guard l(client.mutex);
        return client.queued;
    }
    void advance(double ms) { clockMs += ms; }

    template <typename Condition>
    bool waitUntil(Condition condition, int ms = 5000) {
        QDeadlineTimer deadline(ms);
        while (!condition()) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(5);
        }
        return true;
    }

    TempDir dir;
    FakeClient::Log client;
    ScriptedUi ui;
    ui::QtWindowFactory factory;
    std::unique_ptr<CQVDrvCtrlsApp> app;
    ui::MainWindow* window = nullptr;
    int chosenMotor = 6;
    int selectorRuns = 0;
    QString verdictAtSelector;
    double clockMs = 1000;
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

}  // namespace qv::test
