#include "monitor/json_lines.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "monitor/device_list.h"
#include "monitor/monitor.h"
#include "monitor/telemetry_panel.h"

namespace qv {

namespace {

template <typename T>
void appendShortest(std::string& out, T value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

std::vector<std::string> bitNames(std::uint32_t bits, std::span<const char* const> names) {
    std::vector<std::string> out;
    for (std::size_t i = names.size(); i-- > 0;)
        if (bits & (1u << i)) out.emplace_back(names[i]);
    return out;
}

std::string trimmedName(const DeviceEntry& e) {
    std::string name(e.displayName.data());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

std::string ipv4(std::uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

void JsonObject::name(std::string_view n) {
    if (body_.size() > 1) body_ += ',';
    body_ += jsonString(n);
    body_ += ':';
}

JsonObject& JsonObject::number(std::string_view n, double value) {
    name(n);
    appendShortest(body_, value);
    return *this;
}

JsonObject& JsonObject::number(std::string_view n, float value) {
    name(n);
    appendShortest(body_, value);
    return *this;
}

JsonObject& JsonObject::integer(std::string_view n, std::int64_t value) {
    name(n);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::boolean(std::string_view n, bool value) {
    name(n);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::text(std::string_view n, std::string_view value) {
    name(n);
    body_ += jsonString(value);
    return *this;
}

JsonObject& JsonObject::integers(std::string_view n, std::span<const std::uint8_t> values) {
    name(n);
    body_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) body_ += ',';
        body_ += std::to_string(values[i]);
    }
    body_ += ']';
    return *this;
}

JsonObject& JsonObject::texts(std::string_view n, const std::vector<std::string>& values) {
    name(n);
    body_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) body_ += ',';
        body_ += jsonString(values[i]);
    }
    body_ += ']';
    return *this;
}

std::string deviceJson(const DeviceEntry& e) {
    return JsonObject()
        .integer("base", e.baseAddress)
        .text("device", trimmedName(e))
        .integer("serial", e.serialNumber)
        .integer("type", e.deviceType)
        .text("bridge", ipv4(e.bridgeAddress))
        .str();
}

std::string telemetryJson(const Monitor& m) {
    const SelectedDevice& d = m.selected();
    const TelemetryValues& v = m.values();
    const std::uint32_t heard = m.receivedOffsets();
    auto has = [heard](std::uint32_t offset) { return (heard & (1u << offset)) != 0; };
    const bool charger = isChargerMode(d.type, v.activeMotor);
    const bool gridCharger = charger && d.type == kTypeGridTieCharger;
    const bool isoCharger = charger && d.type == kTypeIsolatedCharger;

    JsonObject o;
    o.integer("base", d.base).integer("serial", d.serial).integer("type", d.type);
    if (const auto entry = m.devices().selectedEntry()) o.text("device", trimmedName(*entry));
    o.text("mode", charger ? "charger" : "motor");
    if (has(0x01)) {
        o.integer("active_motor", v.activeMotor)
            .integer("limit_flags", static_cast<std::uint16_t>(v.limitFlags))
            .texts("limits", bitNames(static_cast<std::uint32_t>(v.limitFlags), kPanelLimitNames))
            .integer("error_flags", static_cast<std::uint16_t>(v.errorFlags))
            .texts("errors", bitNames(static_cast<std::uint32_t>(v.errorFlags), kPanelErrorNames))
            .integer("can_tx_errors", v.canTransmitErrors)
            .integer("can_rx_errors", v.canReceiveErrors);
    }
    if (has(0x02)) {
        o.number("bus_voltage_V", v.busVoltage);
        if (gridCharger)
            o.boolean("grid_ok", v.busCurrent > 0.5f);
        else
            o.number("bus_current_A", v.busCurrent);
    }
    if (has(0x03)) {
        if (gridCharger)
            o.number("grid_frequency_Hz", v.motorVelocity);
        else
            o.number("motor_velocity_rpm", v.motorVelocity);
        o.number("vehicle_velocity_m_s", v.vehicleVelocity);
    }
    if (has(0x04)) o.number("phase_b_current_A", v.phaseBCurrent);
    if (has(0x04)) o.number("phase_c_current_A", v.phaseCCurrent);
    if (has(0x05)) {
        o.number("output_voltage_d_V", v.outputVoltageD);
        o.number("output_voltage_q_V", v.outputVoltageQ);
    }
    if (has(0x06)) {
        if (isoCharger)
            o.number("noload_error_V", v.outputCurrentD)
                .number("duty_cycle_percent", v.outputCurrentQ);
        else
            o.number("output_current_d_A", v.outputCurrentD)
                .number("output_current_q_A", v.outputCurrentQ);
    }
    if (has(0x07)) o.number("back_emf_V", v.backEmf);
    if (has(0x08)) o.number("voltage_0x08_V", v.hiddenVoltage).number("rail_15V_V", v.rail15V);
    if (has(0x09)) o.number("rail_1V9_V", v.rail1V9).number("rail_3V3_V", v.rail3V3);
    if (has(0x0A)) o.number("ratio_0x0A", v.ratio0A).number("speed_0x0A_rpm", v.speedRpm0A);
    if (has(0x0B)) {
        o.number("motor_temperature_degC", v.motorTemperature)
            .number("phase_a_temperature_degC", v.phaseATemperature);
    }
    if (has(0x0C)) {
        o.number("dsp_temperature_degC", v.dspTemperature)
            .number("phase_b_temperature_degC", v.phaseBTemperature);
    }
    if (has(0x0D)) {
        o.number("temperature_0x0D_degC", v.hiddenTemperature)
            .number("phase_c_temperature_degC", v.phaseCTemperature);
    }
    if (has(0x0E)) o.number("odometer_m", v.odometer).number("bus_charge_Ah", v.busCharge);
    if (has(0x17)) o.number("slip_speed_Hz", v.slipSpeed);
    if (const auto load = m.busLoadPercent()) o.number("bus_load_percent", *load);
    return o.str();
}

std::string frameJson(const CanPacket& p, double wallSeconds) {
    const CanFrame& f = p.frame;
    const std::size_t bytes = f.remote() ? 0 : std::min<std::size_t>(f.length(), 8);
    JsonObject o;
    o.number("time_s", std::round(wallSeconds * 1e6) / 1e6)
        .integer("id", f.identifier())
        .boolean("extended", f.extended())
        .boolean("remote", f.remote())
        .integer("length", f.length())
        .integers("data", std::span<const std::uint8_t>(f.data().data(), bytes))
        .boolean("status", p.status);
    return o.str();
}

}  // namespace qv
