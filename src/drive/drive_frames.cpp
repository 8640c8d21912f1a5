#include "drive/drive_frames.h"

#include <cmath>
#include <cstring>

namespace qv {

namespace {

void putFloat(CanFrame::Data& data, std::size_t at, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (std::size_t i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

float floatAt(const CanFrame& frame, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) bits |= std::uint32_t{frame.data()[at + i]} << (8 * i);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

}  // namespace

std::optional<CanFrame> floatPairFrame(std::uint32_t identifier, float low, float high) {
    if (!std::isfinite(low) || !std::isfinite(high) || identifier > kMaxStandardId)
        return std::nullopt;
    CanFrame::Data data{};
    putFloat(data, 0, low);
    putFloat(data, 4, high);
    return CanFrame(identifier, false, false, 8, data);
}

float lowFloat(const CanFrame& frame) {
    return floatAt(frame, 0);
}

float highFloat(const CanFrame& frame) {
    return floatAt(frame, 4);
}

}  // namespace qv
