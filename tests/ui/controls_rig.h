#pragma once
// The real program's windows with the Controls window installed as the program installs it.
// With the fake bridge client the tick is driven by hand (the window's timer is stopped), so
// every frame the program sends can be told apart by the tick that sent it.
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <cstring>

#include "app/config_transfer_service.h"
#include "drive/controls.h"
#include "ui/controls_window.h"
#include "ui_rig.h"

namespace qv::test {

inline constexpr std::uint32_t kDeviceBase = 0x440;
inline constexpr std::uint32_t kDriverControls = 0x520;
inline constexpr std::uint32_t kDriveId = kDriverControls + 1;
inline constexpr std::uint32_t kBusCurrentId = kDriverControls + 2;
inline constexpr std::uint32_t kTakeOverId = kDeviceBase + 15;

inline float lowFloatOf(const CanFrame& f) {
    float v;
    std::memcpy(&v, f.data().data(), 4);
    return v;
}
inline float highFloatOf(const CanFrame& f) {
    float v;
    std::memcpy(&v, f.data().data() + 4, 4);
    return v;
}

class ControlsRig : public UiRig {
  public:
    explicit ControlsRig(std::optional<BridgeSettings> bridge = std::nullopt)
        : UiRig(bridge, [](UiRig& r) {
              installConfigTransferService(*r.app, r.ui);
              ui::installControlsWindow(r.factory, *r.app, r.ui);
          }) {
        controlsWindow = window->findChild<ui::ControlsWindow*>("id105");
    }

    // A controller announced and selected, its public structure held as a download leaves it
    // (speed limit 5000 rpm, driver controls at 0x520); the timer stopped.
    void selectDevice(const char* product = "KX01", std::uint32_t serial = 765432) {
        window->tickTimer().stop();
        announce(kDeviceBase, product, serial);
        logic().onTimer();
        app->store().setValid(StructureKind::Public, true);
        app->store().publicConfig.speedLimit = 5000.0f;
        app->store().publicConfig.driverControlsBaseAddress = kDriverControls;
        app->store().markSaved();  // as a download leaves it: nothing to lose
    }
    // Tools > Controls from the menu.
    void openControls() {
        window->action(kCmdControls)->trigger();
        QApplication::processEvents();
    }
    // Opened and through its first check: the controls are live.
    void goLive() {
        selectDevice();
        openControls();
        ticks(6);
        ASSERT_EQ(controlsWindow->windowTitle(), "Controls");
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) logic().onTimer();
    }

    template <typename T>
    T* control(int id) {
        return controlsWindow->findChild<T*>(QString("id%1").arg(id));
    }
    QSlider* slider(int id) { return control<QSlider>(id); }
    QString valueText(int id) { return control<QLabel>(id)->text(); }
    // Frames sent with identifier `id` from index `from` of the sent log on.
    std::vector<CanFrame> sentWith(std::uint32_t id, std::size_t from = 0) {
        std::vector<CanFrame> out;
        const auto all = sent();
        for (std::size_t i = from; i < all.size(); ++i)
            if (all[i].identifier() == id) out.push_back(all[i]);
        return out;
    }
    bool controlsShown() { return controlsWindow->isVisible(); }

    ui::ControlsWindow* controlsWindow = nullptr;
};

}  // namespace qv::test
