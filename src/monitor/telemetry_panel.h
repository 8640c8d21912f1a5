#pragma once
// The main window's telemetry panel as data: for each value cell its text, colours, enabled and
// visible state, for each row caption its text, and the status line with its colour box.
//
// How a window uses it (through Monitor, which owns one): frames only mark which messages
// arrived (markMessage, no formatting); once per tick refresh() formats the marked cells with
// the latest values, compares them with what the window shows and returns the ids of the cells
// and captions that really changed. The window repaints exactly those: cell(id) and caption(id).
// Texts are UTF-8 (the degree sign is U+00B0). Cell ids are the controls' ids (1000, 1177...).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "monitor/monitor_types.h"
#include "monitor/telemetry_values.h"

namespace qv {

class CConfigDataBank;

// Status line and its colour box.
inline constexpr int kStatusLineCell = 1202;
inline constexpr int kStatusBoxCell = 1203;
inline constexpr const char* kNotConnectedText = "Not Connected...";

// One row of the panel as printed: the caption (a caption control id, or 0 when the caption
// is a fixed text), then the value cells in their order (0: none). Hidden cells are left out.
struct PanelRow {
    int captionId;
    const char* fixedCaption;  // the caption when captionId is 0, else its default text
    int leftCell;
    int rightCell;
};
// The rows in the panel's order (without the status line).
std::span<const PanelRow> panelRows();

// Names of the status message's limit and error flag bits (bit i is names[i]).
inline constexpr std::array<const char*, 7> kPanelLimitNames = {"PWM",    "Iq",     "vel", "Idc",
                                                                "VdcMax", "VdcMin", "temp"};
inline constexpr std::array<const char*, 10> kPanelErrorNames = {
    "HWOC", "SWOC", "OV", "HALL", "WD", "CFG", "UV15V", "DESAT", "MOT", "OVSPD"};

struct PanelChanges {
    std::vector<int> cells;
    std::vector<int> captions;
    bool empty() const { return cells.empty() && captions.empty(); }
};

class TelemetryPanel {
  public:
    // Every cell and caption at the state of dialog initialisation: captions at their default
    // texts, cells empty, the status line "Not Connected..." and a black colour box. The first
    // refresh() reports all of them.
    TelemetryPanel();

    // A frame of the selected device at `offset` was decoded into the values.
    void markMessage(std::uint32_t offset) {
        if (offset < 32) dirtyOffsets_ |= 1u << offset;
    }
    // updateTelemetryLabels at the next refresh (device selected, active motor changed).
    void markRelabel() { relabel_ = true; }
    // resetTelemetryDisplay: every cell to its zero text, now; marked messages are dropped.
    void reset();
    // Greys every value cell (texts and colours stay) while nothing live stands behind the
    // values; the status line and its box are not touched. Cells start stale.
    void setStale(bool stale);
    bool stale() const { return stale_; }
    // The status line and its colour box (background and text in the same colour).
    void setStatus(const std::string& text, ColorRef boxColour);

    // Formats what was marked, in the mode given by `deviceType` and values.activeMotor, and
    // returns what differs from the last refresh. `store` gives the motor names of the active
    // motor cell (null: none). The result stays valid until the next call.
    const PanelChanges& refresh(const TelemetryValues& values, std::int32_t deviceType,
                                const CConfigDataBank* store);

    // Current state. Throws std::out_of_range for an id that is not a cell or caption here.
    const CellState& cell(int id) const;
    const std::string& caption(int id) const;
    // Every cell id (value cells, hidden cells, status line and box) and caption id.
    static std::span<const int> cellIds();
    static std::span<const int> captionIds();

    // Offset of the message a click on value cell `id` asks for, if it asks for one.
    static std::optional<std::uint32_t> requestOffset(int cellId);

  private:
    struct Slot {
        CellState shown;    // what the last refresh reported
        CellState current;  // what the model holds now
    };
    Slot& slot(int id);
    void setText(int id, const char* text, std::size_t length);
    void setText(int id, const std::string& text) { setText(id, text.data(), text.size()); }
    void setBackground(int id, ColorRef colour);
    void setEnabled(int id, bool enabled);
    void applyLabels(std::int32_t deviceType, std::int32_t activeMotor);
    void formatMessage(std::uint32_t offset, const TelemetryValues& v, std::int32_t type,
                       const CConfigDataBank* store);

    std::vector<Slot> slots_;  // by cell index
    std::array<std::string, 14> captions_;
    std::array<std::string, 14> shownCaptions_;
    std::uint32_t dirtyOffsets_ = 0;
    bool relabel_ = false;
    bool firstRefresh_ = true;
    bool stale_ = false;
    PanelChanges changes_;
    std::string scratch_;
};

}  // namespace qv
