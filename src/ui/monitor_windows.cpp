#include "ui/monitor_windows.h"

#include "app/qv_drv_ctrls_app.h"
#include "ui/qt_windows.h"

namespace qv::ui {

MonitorWindows::MonitorWindows(CQVDrvCtrlsApp& app, UserInteraction& ui) {
    CQVDrvCtrlsDlg* dialog = app.dialog();
    auto* main = static_cast<QtMainSide*>(app.mainWindow());
    plotTick_ = std::make_unique<QtTickWindow>(nullptr, nullptr);
    busMonitorTick_ = std::make_unique<QtTickWindow>(nullptr, nullptr);
    if (!dialog || !main) return;
    QWidget* owner = main->window();
    plot_ = new PlotWindow(dialog->monitor(), ui, owner);
    busMonitor_ = new BusMonitorWindow(dialog->monitor(), ui, owner);
    for (const int cell : kDefaultPlotCells) plot_->choose(cell, true);
    // Beside the tools, where they open by default.
    plot_->move(250, 10);
    busMonitor_->move(270, 30);
    plotTick_ = std::make_unique<QtTickWindow>(plot_, [p = plot_] {
        if (p) p->onTick();
    });
    busMonitorTick_ = std::make_unique<QtTickWindow>(busMonitor_, [b = busMonitor_] {
        if (b) b->onTick();
    });
    dialog->addTickWindow(kCmdPlotTelemetry, *plotTick_);
    dialog->addTickWindow(kCmdBusMonitor, *busMonitorTick_);
}

}  // namespace qv::ui
