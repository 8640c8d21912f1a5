#pragma once
// The Telemetry window as data: its fourteen cells (1182 to 1195) with texts and colours, fed
// with every frame while the window is enabled, and its raw CAN log.
//
// How the window uses it (Monitor owns one): Tools > Telemetry calls setShown(true, ...) (the
// raw log opens), hiding or Cancel calls setShown(false, ...) (it closes). Monitor::handleFrame
// passes frames to update() while shown; once per tick refresh() returns the ids of the cells
// whose text or colour changed; the window repaints those from cell(id). The CAN port's raw log
// hook goes to rawLog().write(). Texts are UTF-8.
#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "link/can_frame.h"
#include "monitor/monitor_types.h"
#include "monitor/raw_can_log.h"

namespace qv {

inline constexpr std::uint32_t kPrechargeId = 0x263;
inline constexpr std::uint32_t kCellVoltageId = 0x266;
inline constexpr int kTelemFirstCell = 1182;
inline constexpr int kTelemLastCell = 1195;

struct TelemCellInfo {
    int id;
    const char* caption;
};
// The text of a precharge state (0 to 4), nullptr for another value.
const char* prechargeText(std::uint8_t state);

// The cells in their order with the caption printed above each.
std::span<const TelemCellInfo> telemCells();

class TelemWindowModel {
  public:
    explicit TelemWindowModel(std::string rawLogDirectory = {});

    // Shown: opens the raw log (local time of the showing); hidden: closes it.
    void setShown(bool shown, const std::tm& local, double nowMs);
    bool shown() const { return shown_; }

    // A frame taken from the queue, `selectedBase` the selected base address (below zero:
    // none, and only the fixed identifiers 0x263 and 0x266 are looked at). Cheap: stores only.
    void update(std::uint32_t identifier, const CanFrame::Data& data, std::int32_t selectedBase);

    // Formats what arrived since the last call; returns the ids whose cell changed.
    const std::vector<int>& refresh();
    // Throws std::out_of_range for an id outside 1182..1195.
    const CellState& cell(int id) const;

    RawCanLog& rawLog() { return rawLog_; }

  private:
    enum Pending : std::uint32_t {
        kStatus = 1,
        kCurrent = 2,
        kBus = 4,
        kSpeed = 8,
        kPhaseTemps = 16,
        kMotorTemp = 32,
        kCells = 64,
        kPrecharge = 128
    };
    CellState& at(int id) { return cells_[static_cast<std::size_t>(id - kTelemFirstCell)]; }
    void setText(int id, const char* text, std::size_t length);

    std::array<CellState, 14> cells_;
    std::array<CellState, 14> shownCells_;
    std::vector<int> changed_;
    std::uint32_t pending_ = 0;
    bool shown_ = false;
    // What the frames said, formatted at refresh.
    std::uint8_t limitBits_ = 0, errorBits_ = 0;
    float phaseB_ = 0, phaseC_ = 0;
    float busVoltage_ = 0, busCurrent_ = 0;
    float motorRpm_ = 0;
    std::uint8_t precharge_ = 0;
    std::int16_t cellMinMv_ = 0, cellMaxMv_ = 0;
    std::uint16_t cellMinNo_ = 0, cellMaxNo_ = 0;
    // Members of the window (doubles).
    double phaseCTemp_ = 0, phaseBTemp_ = 0, phaseATemp_ = 0, motorTemp_ = 0, vehicleSpeed_ = 0;
    RawCanLog rawLog_;
};

}  // namespace qv
