#include "monitor/frame_hint.h"

#include <array>

#include "monitor/device_list.h"
#include "monitor/number_text.h"
#include "monitor/telem_window.h"
#include "monitor/telemetry_panel.h"
#include "monitor/telemetry_readings.h"

namespace qv {

namespace {

constexpr std::array<const char*, 9> kStreamCommands = {
    "",       "Propose",          "Close",   "Accept",    "Block acknowledge",
    "Resend", "Block incomplete", "Request", "Set length"};

std::uint32_t u32At(const CanFrame::Data& d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | (std::uint32_t{d[at + 1]} << 8) |
           (std::uint32_t{d[at + 2]} << 16) | (std::uint32_t{d[at + 3]} << 24);
}

void appendReading(std::string& out, const CellReading& r) {
    if (r.text) {
        out += r.text;
        return;
    }
    appendFixed(out, r.value, r.decimals);
    out += r.unit;
}

// The value's own name where the row names two ("RMS Current C"), as the plots call it.
std::string captionOf(int cell, const HintContext& c) {
    const bool hidden = cell == 1199 || cell == 1200;
    if (hidden) return {};
    if (c.panel)
        return readingCaption(cell, *c.panel, c.deviceType, c.values ? c.values->activeMotor : 0);
    for (const PanelRow& row : panelRows())
        if (row.leftCell == cell || row.rightCell == cell) return row.fixedCaption;
    return {};
}

std::string telemetryHint(std::uint32_t offset, const CanFrame& frame, const HintContext& c) {
    TelemetryValues v = c.values ? *c.values : TelemetryValues{};
    if (!decodeTelemetry(v, offset, frame.data())) return {};
    std::string s;
    if (offset == kStatusOffset) {
        s = "Status: motor ";
        appendInt(s, v.activeMotor);
        s += ", limits ";
        const std::size_t at = s.size();
        appendBitNames(s, static_cast<std::uint32_t>(v.limitFlags), kPanelLimitNames);
        if (s.size() == at) s += '-';
        s += ", errors ";
        const std::size_t at2 = s.size();
        appendBitNames(s, static_cast<std::uint32_t>(v.errorFlags), kPanelErrorNames);
        if (s.size() == at2) s += '-';
        return s;
    }
    CellReadings readings;
    const std::size_t n = cellReadings(offset, v, c.deviceType, readings);
    if (n == 0) return "Telemetry (stored only)";
    std::string lastCaption;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string caption = captionOf(readings[i].cell, c);
        if (caption.empty()) continue;  // a hidden cell
        if (caption != lastCaption) {
            if (!s.empty()) s += "; ";
            s += caption;
            s += ": ";
            lastCaption = caption;
        } else {
            s += ", ";
        }
        appendReading(s, readings[i]);
    }
    return s;
}

std::string deviceHint(const CanFrame& f, std::uint32_t offset, const HintContext& c) {
    std::string s;
    if (f.remote()) return isTelemetryOffset(offset) ? "Telemetry request" : "";
    if (isTelemetryOffset(offset)) return telemetryHint(offset, f, c);
    switch (offset) {
        case 0x0F:
            s = "Tool command: tool ";
            appendInt(s, u16At(f.data(), 4));
            s += u16At(f.data(), 6) ? ", start" : "";
            return s;
        case 0x10:
        case 0x11:
            return "Commissioning exchange";
        case 0x12: {
            const std::uint16_t command = u16At(f.data(), 0);
            s = "Stream: ";
            if (command < kStreamCommands.size() && command != 0) {
                s += kStreamCommands[command];
            } else {
                s += "command ";
                appendInt(s, command);
            }
            return s;
        }
        case 0x14:
            return "Stream data";
        default:
            return {};
    }
}

}  // namespace

std::string frameHint(const CanFrame& f, const HintContext& c) {
    if (f.extended()) return {};
    const std::uint32_t id = f.identifier();
    std::string s;
    if (!f.remote() && c.driverControlsBase) {
        const std::uint32_t dc = *c.driverControlsBase;
        if (id == dc + 1 || id == dc + 2) {
            s = id == dc + 1 ? "Drive command: " : "Bus current command: ";
            appendFixed(s, static_cast<double>(floatAt(f.data(), 0)), id == dc + 1 ? 0 : 2);
            s += id == dc + 1 ? " rpm, " : ", ";
            appendFixed(s, 100.0 * static_cast<double>(floatAt(f.data(), 4)), 1);
            s += " %";
            return s;
        }
    }
    if ((id & 0x1F) == 0 && !f.remote()) {
        if (const auto product = recognizeProduct(f.data())) {
            s = "Identification: ";
            s += product->displayName;
            while (!s.empty() && s.back() == ' ') s.pop_back();
            s += " serial ";
            appendInt(s, u32At(f.data(), 4));
            return s;
        }
    }
    if (c.selectedBase >= 0 && id >= static_cast<std::uint32_t>(c.selectedBase) &&
        id - static_cast<std::uint32_t>(c.selectedBase) < 0x20)
        return deviceHint(f, id - static_cast<std::uint32_t>(c.selectedBase), c);
    if (f.remote()) return {};
    // The battery-management node's messages of the Telemetry window.
    if (id == kPrechargeId) {
        const char* state = prechargeText(f.data()[1]);
        return state ? std::string("Precharge: ") + state : std::string();
    }
    if (id == kCellVoltageId) {
        // As the Telemetry window shows them, "%d: %0.3f V" (in any locale).
        s = "Cells: min ";
        appendInt(s, u16At(f.data(), 4));
        s += ": ";
        appendFixed(s, static_cast<std::int16_t>(u16At(f.data(), 0)) / 1000.0, 3);
        s += " V, max ";
        appendInt(s, u16At(f.data(), 6));
        s += ": ";
        appendFixed(s, static_cast<std::int16_t>(u16At(f.data(), 2)) / 1000.0, 3);
        s += " V";
        return s;
    }
    return {};
}

}  // namespace qv
