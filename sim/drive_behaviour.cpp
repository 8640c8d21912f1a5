#include "sim/drive_behaviour.h"

#include <cmath>
#include <cstring>
#include <string_view>

namespace qv::sim {

namespace {

constexpr std::size_t kStreamHeaderSize = 30;
constexpr std::string_view kStreamHeaderText = "BRENLOW CONFIGURATION FILE";
constexpr std::size_t kSpeedLimitAt = 8;
constexpr std::size_t kDriverControlsBaseAt = 40;
constexpr std::uint32_t kDriveOffset = 1;
constexpr std::uint32_t kBusCurrentOffset = 2;

std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

float f32(const std::uint8_t* p) {
    const std::uint32_t bits = u32(p);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

bool isCharger(const SimDevice& device) {
    return device.product == 0x4000 || device.product == 0x4001;
}

std::unique_ptr<ControllerBehaviour> makeDrive(const Options&, const SimDevice& device) {
    // A charger's output under drive commands is not simulated.
    if (isCharger(device)) return nullptr;
    return std::make_unique<DriveBehaviour>();
}

}  // namespace

QV_SIM_BEHAVIOUR(drive, makeDrive);

std::optional<DriveSettings> driveSettings(const ObjectTable& objects) {
    const std::vector<std::uint8_t>* stream = objects.read(object::kConfigStream);
    if (!stream || stream->size() < kStreamHeaderSize ||
        std::memcmp(stream->data(), kStreamHeaderText.data(), kStreamHeaderText.size()) != 0)
        return std::nullopt;
    const std::size_t recordSize = std::size_t{(*stream)[28]} | std::size_t{(*stream)[29]} << 8;
    if (recordSize < kDriverControlsBaseAt + 4 || stream->size() < kStreamHeaderSize + recordSize)
        return std::nullopt;
    const std::span<const std::uint8_t> record(stream->data() + kStreamHeaderSize, recordSize);
    if (recordChecksum(record) != (std::uint16_t{record[0]} | std::uint16_t{record[1]} << 8))
        return std::nullopt;
    return DriveSettings{u32(record.data() + kDriverControlsBaseAt),
                         f32(record.data() + kSpeedLimitAt)};
}

bool DriveBehaviour::onBusFrame(Controller& controller, const CanFrame& frame, double nowMs) {
    if (frame.remote() || frame.length() != 8) return false;
    const auto settings = driveSettings(controller.objects());
    if (!settings) return false;
    const std::uint32_t id = frame.identifier();
    const bool drive = id == settings->driverControlsBase + kDriveOffset;
    const bool busCurrent = id == settings->driverControlsBase + kBusCurrentOffset;
    if (!drive && !busCurrent) return false;
    const float low = f32(frame.data().data());
    const float high = f32(frame.data().data() + 4);
    // A command that is not a number is ignored, as a careful controller would.
    if (!std::isfinite(low) || !std::isfinite(high)) return true;
    if (drive)
        motor_.command(low, high, settings->speedLimit, nowMs);
    else
        motor_.limitBusCurrent(high);
    return true;
}

void DriveBehaviour::tick(Controller& controller, double nowMs) {
    motor_.advance(nowMs);
    if (motor_.everCommanded()) driving_ = true;
    if (driving_) controller.telemetry().setDriven(motor_.state());
}

}  // namespace qv::sim
