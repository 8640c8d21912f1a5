#include "ui/monitor_windows.h"

#include "app/qv_drv_ctrls_app.h"
#include "ui/qt_windows.h"

namespace qv::ui {

namespace {

constexpr int kBusMonitorDelayMs = 50;

}  // namespace

MonitorWindows::MonitorWindows(CQVDrvCtrlsApp& app, UserInteraction& ui) : app_(app) {
    CQVDrvCtrlsDlg* dialog = app.dialog();
    auto* main = static_cast<QtMainSide*>(app.mainWindow());
    plotTick_ = std::make_unique<QtTickWindow>(nullptr, nullptr);
    busMonitorTick_ = std::make_unique<QtTickWindow>(nullptr, nullptr);
    if (!dialog || !main) return;
    QWidget* owner = main->window();
    plot_ = new PlotWindow(dialog->monitor(), ui, owner);
    busMonitor_ = new BusMonitorWindow(dialog->monitor(), ui, owner);
    for (const int cell : kDefaultPlotCells) plot_->choose(cell, true);
    plotTick_ = std::make_unique<QtTickWindow>(plot_, [p = plot_] {
        if (p) p->onTick();
    });
    // The trace takes the tick's frames (and is painted) a quarter of a tick later; the chart is
    // drawn half a tick later (PlotWindow).
    busMonitorTick_ = std::make_unique<QtTickWindow>(
        busMonitor_,
        [b = busMonitor_] {
            if (b) b->onTick();
        },
        kBusMonitorDelayMs);
    dialog->addTickWindow(kCmdPlotTelemetry, *plotTick_);
    dialog->addTickWindow(kCmdBusMonitor, *busMonitorTick_);
    // Beside the tools, where they open by default.
    dialog->keepWindowPlace("PlotDlg", *plotTick_, {250, 10});
    dialog->keepWindowPlace("BusMonDlg", *busMonitorTick_, {270, 30});
}

MonitorWindows::~MonitorWindows() {
    if (CQVDrvCtrlsDlg* dialog = app_.dialog()) {
        for (QtTickWindow* tick : {plotTick_.get(), busMonitorTick_.get()}) {
            dialog->forgetWindowPlace(*tick);
            dialog->removeTickWindow(*tick);
        }
    }
}

}  // namespace qv::ui
