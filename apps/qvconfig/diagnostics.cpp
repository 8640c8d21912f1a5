#include "diagnostics.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "app/qv_drv_ctrls_app.h"
#include "link/platform/regular_file.h"

namespace qv {

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void LoadStats::begin(CQVDrvCtrlsApp& app) {
    opener_.setInterval(50);
    QObject::connect(&opener_, &QTimer::timeout, [this, &app] {
        CQVDrvCtrlsDlg* dlg = app.dialog();
        if (!dlg || !dlg->monitor().selected().selected) return;
        opener_.stop();
        dlg->onCommand(kCmdTelemetry);
        measuring_ = true;
        startCpuS_ = cpuSeconds();
        startWallS_ = wallSeconds();
        startFrames_ = dlg->framesTaken();
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
    figures_ = text;
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
