#include "sim/load_generator.h"

#include <algorithm>

namespace qv::sim {

void LoadGenerator::tick(double nowMs) {
    if (rate_ <= 0) return;
    if (startMs_ < 0) startMs_ = lastMs_ = nowMs;
    owed_ += (nowMs - lastMs_) * rate_ / 1000.0;
    lastMs_ = nowMs;
    owed_ = std::min(owed_, rate_ * 0.05);
    while (owed_ >= 1.0) {
        CanFrame::Data d{};
        for (std::size_t i = 0; i < 8; ++i) d[i] = static_cast<std::uint8_t>(sent_ >> (8 * i));
        bus_.send(CanFrame(kLoadId, true, false, 8, d), this);
        ++sent_;
        owed_ -= 1.0;
    }
}

}  // namespace qv::sim
