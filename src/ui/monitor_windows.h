#pragma once
// Tools > Plot Telemetry... and Tools > Bus Monitor...: builds both windows (children of the
// main window, deleted with it) and registers them with the main dialog, after the
// application has started. Their places and sizes are kept under "PlotDlg" and "BusMonDlg".
#include <QPointer>
#include <memory>

#include "ui/bus_monitor_window.h"
#include "ui/plot_window.h"
#include "ui/tick_window.h"

namespace qv {
class CQVDrvCtrlsApp;
class UserInteraction;
}  // namespace qv

namespace qv::ui {

class MonitorWindows {
  public:
    // The values the plot shows when it first opens with nothing chosen: velocity (rpm, left
    // axis) and bus current (A, right axis).
    static constexpr int kDefaultPlotCells[] = {1006, 1001};

    MonitorWindows(CQVDrvCtrlsApp& app, UserInteraction& ui);
    // The main dialog (when it is still there) stops keeping the windows' places and ticking
    // them.
    ~MonitorWindows();
    MonitorWindows(const MonitorWindows&) = delete;
    MonitorWindows& operator=(const MonitorWindows&) = delete;

    PlotWindow* plot() const { return plot_.data(); }
    BusMonitorWindow* busMonitor() const { return busMonitor_.data(); }
    const TickCost& plotCost() const { return plotTick_->cost(); }
    const TickCost& busMonitorCost() const { return busMonitorTick_->cost(); }

  private:
    CQVDrvCtrlsApp& app_;
    QPointer<PlotWindow> plot_;
    QPointer<BusMonitorWindow> busMonitor_;
    std::unique_ptr<QtTickWindow> plotTick_;
    std::unique_ptr<QtTickWindow> busMonitorTick_;
};

}  // namespace qv::ui
