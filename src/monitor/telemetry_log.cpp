#include "monitor/telemetry_log.h"

#include <cstdio>

#include "monitor/monitor_types.h"
#include "monitor/number_text.h"

namespace qv {

namespace {

std::string timeText(const char* format, const std::tm& local) {
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

void appendFloats(std::string& out, std::initializer_list<float> values) {
    for (float v : values) {
        out += ", ";
        appendFixed(out, static_cast<double>(v), 6);
    }
}

}  // namespace

std::string telemetryLogFileName(const std::tm& local) {
    return timeText("QVlog_%Y-%m-%d_%H-%M-%S", local) + ".csv";
}

std::string withCsvExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return hasExtension ? path : path + ".csv";
}

std::string telemetryLogHeader(std::int32_t type, std::int32_t activeMotor) {
    const bool iso = type == kTypeIsolatedCharger && activeMotor == 0;
    const bool grid = type == kTypeGridTieCharger && activeMotor == 0;
    std::string h = "Time, Errors, Limiters, Current SP, Velocity SP, Idc SP, misc SP";
    if (iso)
        h += ", Bus Voltage (V), nBus Current (A), nVelocity (m/s), nMotor RPM, Out Current (A), "
             "Out Unfilt-Current (A), nOdometer (m), Veh kWh";
    else if (grid)
        h += ", Bus Voltage (V), Grid OK (BOOL), nVelocity (m/s), Grid Frequency (Hz), pC Current "
             "(A), pB Current (A), nOdometer (m), Grid kWh";
    else
        h += ", Bus Voltage (V), Bus Current (A), Velocity (m/s), Motor RPM, pC Current (A), pB "
             "Current (A), Odometer (m), Bus Charge (Ah)";
    if (iso)
        h += ", nBEMF (V), Snubber Cap Volt (V), Out Volt (V), NoLoad Ctl Err (V), Duty Cycle (%)";
    else if (grid)
        h += ", Grid Voltage RMS (V), VoutD (V), VoutQ (V), IoutD (A), IoutQ (A)";
    else
        h += ", BEMF (V), VoutD (V), VoutQ (V), IoutD (A), IoutQ (A)";
    h += ", 15V Rail (V), 1.9V Rail (V), 3.3V Rail (V)";
    if (iso || grid)
        h += ", nMotor Temp (C), DSP Temp (C), Phase A Temp (C), Phase B Temp (C), Phase C Temp "
             "(C)";
    else if (type == kTypeSmallController)
        h += ", Motor Temp (C), DSP Temp (C), Phase A Temp (C), nPhase B Temp (C), nPhase C Temp "
             "(C)";
    else
        h += ", Motor Temp (C), DSP Temp (C), Phase A Temp (C), Phase B Temp (C), Phase C Temp "
             "(C)";
    h += ", CAN Trans Errs, CAN Recv Errs, Slip Speed (Hz)\n";
    return h;
}

void appendTelemetryLogRow(std::string& out, const std::tm& local, const TelemetryValues& v) {
    char time[16];
    out.append(time, std::strftime(time, sizeof time, "%H:%M:%S", &local));
    out += ", 0x";
    appendHex(out, static_cast<std::uint32_t>(v.errorFlags));
    out += ", 0x";
    appendHex(out, static_cast<std::uint32_t>(v.limitFlags));
    appendFloats(out,
                 {v.currentSetpoint, v.velocitySetpoint, v.busCurrentSetpoint, v.miscSetpoint});
    appendFloats(out, {v.busVoltage, v.busCurrent, v.vehicleVelocity, v.motorVelocity,
                       v.phaseCCurrent, v.phaseBCurrent, v.odometer, v.busCharge});
    appendFloats(out, {v.backEmf, v.outputVoltageD, v.outputVoltageQ, v.outputCurrentD,
                       v.outputCurrentQ, v.rail15V, v.rail1V9, v.rail3V3});
    appendFloats(out, {v.motorTemperature, v.dspTemperature, v.phaseATemperature,
                       v.phaseBTemperature, v.phaseCTemperature});
    out += ", ";
    appendInt(out, v.canTransmitErrors);
    out += ", ";
    appendInt(out, v.canReceiveErrors);
    appendFloats(out, {v.slipSpeed});
    out += '\n';
}

std::optional<std::string> TelemetryLog::start(const std::string& path, std::int32_t type,
                                               std::int32_t activeMotor, double nowMs) {
    rows_ = 0;
    const LogFile::Opened opened = file_.open(path, nowMs);
    bool ok = opened != LogFile::Opened::kFailed;
    if (ok && opened == LogFile::Opened::kCreated)
        ok = file_.append(telemetryLogHeader(type, activeMotor)) && file_.flush();
    if (ok) return std::nullopt;
    file_.close();
    return "Unable to open file \"" + path + "\" for logging";
}

std::optional<std::string> TelemetryLog::failure() {
    return "Unable to write to file \"" + file_.path() +
           "\" (the disk may be full or the file removed); logging has stopped";
}

std::optional<std::string> TelemetryLog::writeRow(const TelemetryValues& values,
                                                  const std::tm& local, double nowMs) {
    if (!file_.isOpen()) return std::nullopt;
    appendTelemetryLogRow(file_.buffer(), local, values);
    ++rows_;
    if (!file_.flushIfFull()) return failure();
    return flushIfDue(nowMs);
}

std::optional<std::string> TelemetryLog::flushIfDue(double nowMs) {
    if (!file_.isOpen()) return std::nullopt;
    // A little under a second, so that 1 s rows on a 200 ms tick reach the disk each time.
    if (!file_.flushIfDue(nowMs, 900.0)) return failure();
    return std::nullopt;
}

std::optional<std::string> TelemetryLog::stop() {
    if (!file_.isOpen()) return std::nullopt;
    if (!file_.close()) return failure();
    return std::nullopt;
}

}  // namespace qv
