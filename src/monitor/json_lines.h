#pragma once
// The JSON lines of `qvcli devices`, `telemetry` and `monitor --format json`: one object a
// line, for the scripts engineers write around the tool. Field names are stable (add, never
// rename); numbers are JSON numbers, with their unit in the field name ("bus_voltage_V"); a
// value that is no number (NaN, infinity) is null.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/can_frame.h"

namespace qv {

class Monitor;
struct DeviceEntry;

// One JSON object, built field by field in the order given.
class JsonObject {
  public:
    JsonObject& number(std::string_view name, double value);
    // A float in its shortest form that reads back to the same float ("96.33").
    JsonObject& number(std::string_view name, float value);
    JsonObject& integer(std::string_view name, std::int64_t value);
    JsonObject& boolean(std::string_view name, bool value);
    JsonObject& text(std::string_view name, std::string_view value);
    JsonObject& integers(std::string_view name, std::span<const std::uint8_t> values);
    JsonObject& texts(std::string_view name, const std::vector<std::string>& values);
    // "{...}" on one line, without a line end.
    std::string str() const { return body_ + "}"; }

  private:
    void name(std::string_view n);
    std::string body_ = "{";
};

// A JSON string: quotes, backslash escapes, control characters as \u00XX (UTF-8 passes).
std::string jsonString(std::string_view text);

// {"base":1024,"device":"qvm40","serial":123456,"type":16386,"bridge":"127.0.0.1"}
std::string deviceJson(const DeviceEntry& entry);

// The selected device and every telemetry value heard from it since it was selected, named by
// what it is in the device's mode (a grid-tie charger in charger mode reports
// "grid_frequency_Hz" and "grid_ok" where a controller reports "motor_velocity_rpm" and
// "bus_current_A"), then the bus load once it is known.
std::string telemetryJson(const Monitor& monitor);

// One received frame: {"time_s":..., "id":..., "extended":..., "remote":..., "length":...,
// "data":[...], "status":...}; `wallSeconds` is the time of arrival on the wall clock.
std::string frameJson(const CanPacket& packet, double wallSeconds);

}  // namespace qv
