#include "monitor/bus_load.h"

#include "monitor/number_text.h"
#include "monitor/telemetry_panel.h"

namespace qv {

namespace {

constexpr double kBitsPerFrame = 120.0;
constexpr int kTicksPerFigure = 5;

}  // namespace

ColorRef BusLoad::colourFor(double percent) {
    if (percent == 0) return kBlack;
    if (percent < 30) return kLoadGreen;
    if (percent < 60) return kLoadYellow;
    return kLoadRed;
}

std::string BusLoad::statusText(double percent, bool deviceSelected) {
    if (percent == 0 && !deviceSelected) return kNotConnectedText;
    std::string text = "CAN BUS loading is ";
    appendFixed(text, percent, 2);
    text += '%';
    return text;
}

void BusLoad::reset() {
    history_ = {};
    ticks_ = 0;
}

std::optional<BusLoadFigure> BusLoad::tick(std::uint64_t frames, bool bridgeHeard,
                                           std::uint32_t bitRate, bool deviceSelected) {
    std::uint64_t sum = frames;
    for (std::uint64_t h : history_) sum += h;
    for (std::size_t i = 0; i + 1 < history_.size(); ++i) history_[i] = history_[i + 1];
    history_.back() = frames;
    ++ticks_;
    // A bit rate of 0 gives no figure: the status line waits for a usable one.
    if (ticks_ < kTicksPerFigure || !bridgeHeard || bitRate == 0) return std::nullopt;
    ticks_ = 0;
    BusLoadFigure figure;
    figure.percent = static_cast<double>(sum) * kBitsPerFrame / bitRate * 100.0;
    figure.text = statusText(figure.percent, deviceSelected);
    figure.colour = colourFor(figure.percent);
    return figure;
}

}  // namespace qv
