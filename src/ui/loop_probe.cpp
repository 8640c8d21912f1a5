#include "ui/loop_probe.h"

#include <algorithm>
#include <cmath>

namespace qv::ui {

LoopProbe::LoopProbe(int periodMs, QObject* parent) : QObject(parent), periodMs_(periodMs) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(periodMs_);
    connect(&timer_, &QTimer::timeout, this, &LoopProbe::onTimeout);
    lateness_.reserve(1 << 16);
}

void LoopProbe::start() {
    clock_.start();
    lastNs_ = -1;
    timer_.start();
}

void LoopProbe::onTimeout() {
    const qint64 now = clock_.nsecsElapsed();
    if (lastNs_ >= 0) {
        const double gapMs = static_cast<double>(now - lastNs_) / 1e6;
        longestGapMs_ = std::max(longestGapMs_, gapMs);
        lateness_.push_back(static_cast<float>(std::max(0.0, gapMs - periodMs_)));
    }
    lastNs_ = now;
}

double LoopProbe::latencyPercentileMs(double p) const {
    if (lateness_.empty()) return 0;
    std::vector<float> sorted = lateness_;
    std::sort(sorted.begin(), sorted.end());
    const double rank = std::clamp(p / 100.0, 0.0, 1.0) * static_cast<double>(sorted.size() - 1);
    return sorted[static_cast<std::size_t>(std::llround(rank))];
}

}  // namespace qv::ui
