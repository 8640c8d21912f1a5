#pragma once
// qvconfig --stats FILE: how the program kept up with the bus, written at exit. The load
// benchmark opens the Telemetry window (raw CAN log on) as soon as a device is selected and
// measures from then on.
#include <QTimer>
#include <cstdint>
#include <string>

#include "ui/loop_probe.h"

namespace qv {

class CQVDrvCtrlsApp;

class LoadStats {
  public:
    explicit LoadStats(std::string path) : path_(std::move(path)) {}
    // Starts watching; opens the Telemetry window once a device is selected.
    void begin(CQVDrvCtrlsApp& app);
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
    std::string figures_;
};

}  // namespace qv
