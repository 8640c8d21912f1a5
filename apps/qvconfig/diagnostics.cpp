#include "diagnostics.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <qcustomplot.h>
#include "app/qv_drv_ctrls_app.h"
#include "link/platform/regular_file.h"

#include "ui/monitor_windows.h"

namespace qv {

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void LoadStats::begin(CQVDrvCtrlsApp& app, ui::MonitorWindows& windows) {
    windows_ = &windows;
    opener_.setInterval(50);
    QObject::connect(&opener_, &QTimer::timeout, [this, &app] {
        CQVDrvCtrlsDlg* dlg = app.dialog();
        if (!dlg || !dlg->monitor().selected().selected) return;
        opener_.stop();
        dlg->onCommand(kCmdTelemetry);
        // Six values on two axes: velocity, bus voltage and current, two phase currents and
        // the motor temperature. QV_LOAD_BASELINE=1: the Telemetry window alone, to compare.
        const char* baseline = std::getenv("QV_LOAD_BASELINE");
        if (!baseline || std::string(baseline) != "1") {
            if (ui::PlotWindow* plot = windows_->plot())
                for (const int cell : {1006, 1001, 1000, 1007, 1022, 1018})
                    plot->choose(cell, true);
            dlg->onCommand(kCmdPlotTelemetry);
            dlg->onCommand(kCmdBusMonitor);
        }
        if (ui::BusMonitorWindow* monitor = windows_->busMonitor()) monitor->showIdView(false);
        measuring_ = true;
        startCpuS_ = cpuSeconds();
        startWallS_ = wallSeconds();
        startFrames_ = dlg->framesTaken();
        startRecorded_ = dlg->monitor().busMonitor().framesRecorded();
        if (ui::BusMonitorWindow* monitor = windows_->busMonitor())
            startInsertions_ = monitor->traceModel()->insertions();
        startRssKiB_ = residentKiB();
        startTicks_ = dlg->ticks();
        probe_.start();
    });
    opener_.start();
}

void LoadStats::capture(CQVDrvCtrlsApp& app) {
    CQVDrvCtrlsDlg* dlg = app.dialog();
    if (!dlg || !measuring_) {
        figures_ = "measured=0\n";
        return;
    }
    const double wall = wallSeconds() - startWallS_;
    const double cpu = cpuSeconds() - startCpuS_;
    CBcan& port = app.port();
    const CanUdpClient* client = port.client();
    const RawCanLog& raw = dlg->monitor().telemetryWindow().rawLog();
    const BusMonitorModel& bus = dlg->monitor().busMonitor();
    ui::BusMonitorWindow* monitor = windows_ ? windows_->busMonitor() : nullptr;
    char more[1024];
    std::snprintf(
        more, sizeof more,
        "bus_monitor_frames_recorded=%llu\nbus_monitor_frames_held=%zu\n"
        "bus_monitor_trace_rows=%d\nbus_monitor_insertions=%d\nticks=%llu\n"
        "plot_series=%zu\nrecorder_bytes=%zu\nrss_start_kib=%ld\nrss_end_kib=%ld\n"
        "rss_peak_kib=%ld\nplot_tick_ms_mean=%.2f\nplot_tick_ms_max=%.2f\n"
        "plot_replot_ms=%.2f\nbus_monitor_tick_ms_mean=%.2f\nbus_monitor_tick_ms_max=%.2f\n"
        "tick_ms_mean=%.2f\ntick_ms_max=%.2f\n",
        static_cast<unsigned long long>(bus.framesRecorded() - startRecorded_), bus.framesHeld(),
        monitor ? monitor->traceModel()->rowCount() : -1,
        monitor ? monitor->traceModel()->insertions() - startInsertions_ : -1,
        static_cast<unsigned long long>(dlg->ticks() - startTicks_),
        windows_ && windows_->plot() ? windows_->plot()->selection().series().size()
                                     : std::size_t{0},
        dlg->monitor().recorder().bytes(), startRssKiB_, residentKiB(), peakKiB(),
        windows_->plotCost().totalMs / std::max(1, windows_->plotCost().calls),
        windows_->plotCost().longestMs,
        windows_->plot() ? windows_->plot()->chart()->replotTime(true) : 0.0,
        windows_->busMonitorCost().totalMs / std::max(1, windows_->busMonitorCost().calls),
        windows_->busMonitorCost().longestMs,
        dlg->totalTickMs() / static_cast<double>(std::max<std::uint64_t>(1, dlg->ticks())),
        dlg->longestTickMs());
    char text[1024];
    std::snprintf(text, sizeof text,
                  "measured=1\nseconds=%.2f\nlongest_stall_ms=%.2f\np99_latency_ms=%.2f\n"
                  "p50_latency_ms=%.2f\nloop_samples=%zu\ncpu_percent=%.2f\nframes_taken=%llu\n"
                  "raw_log_lines=%llu\nraw_log_file=%s\nqueue_drops=%llu\nkernel_drops=%llu\n"
                  "drains_cut=%llu\n",
                  wall, probe_.longestStallMs(), probe_.latencyPercentileMs(99),
                  probe_.latencyPercentileMs(50), probe_.samples(),
                  wall > 0 ? 100.0 * cpu / wall : 0.0,
                  static_cast<unsigned long long>(dlg->framesTaken() - startFrames_),
                  static_cast<unsigned long long>(raw.linesWritten()), raw.path().c_str(),
                  static_cast<unsigned long long>(port.droppedQueuePackets()),
                  static_cast<unsigned long long>(client ? client->droppedDatagrams() : 0),
                  static_cast<unsigned long long>(dlg->drainsCut()));
    figures_ = std::string(text) + more;
}

bool LoadStats::write() const {
    int error = 0;
    const net::Fd out = openRegularFile(path_, O_WRONLY | O_CREAT | O_TRUNC, error);
    if (!out.valid() || !writeAll(out.get(), figures_.empty() ? "measured=0\n" : figures_)) {
        std::fprintf(stderr, "qvconfig: could not write %s: %s\n", path_.c_str(),
                     fileErrorDescription(out.valid() ? errno : error).c_str());
        return false;
    }
    return true;
}

}  // namespace qv
