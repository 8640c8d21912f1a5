#pragma once
// qvconfig --stats FILE: how the program kept up with the bus, written at exit. The load
// benchmark opens the Telemetry window (raw CAN log on), the telemetry plot with six values and
// the bus monitor's trace as soon as a device is selected and measures from then on.
#include <QTimer>
#include <cstdint>
#include <string>

#include "ui/loop_probe.h"

namespace qv {

class CQVDrvCtrlsApp;
namespace ui {
class MonitorWindows;
}

class LoadStats {
  public:
    explicit LoadStats(std::string path) : path_(std::move(path)) {}
    // Starts watching; opens the Telemetry window once a device is selected.
    void begin(CQVDrvCtrlsApp& app, ui::MonitorWindows& windows);
    // Takes the figures (before the port closes).
    void capture(CQVDrvCtrlsApp& app);
    bool write() const;

  private:
    std::string path_;
    ui::LoopProbe probe_;
    QTimer opener_;
    bool measuring_ = false;
    double startCpuS_ = 0;
    double startWallS_ = 0;
    std::uint64_t startFrames_ = 0;
    std::uint64_t startRecorded_ = 0;
    int startInsertions_ = 0;
    std::uint64_t startTicks_ = 0;
    long startRssKiB_ = 0;
    ui::MonitorWindows* windows_ = nullptr;
    std::string figures_;
};

}  // namespace qv
