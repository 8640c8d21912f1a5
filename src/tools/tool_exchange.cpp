#include "tools/tool_exchange.h"

#include <cstring>
#include <utility>

namespace qv {

namespace {

std::uint16_t get16(const CanFrame::Data& d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

void put16(CanFrame::Data& d, std::size_t at, std::uint16_t v) {
    d[at] = static_cast<std::uint8_t>(v);
    d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

float getFloat(const CanFrame::Data& d, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(d[at + i]) << (8 * i);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void putFloat(CanFrame::Data& d, std::size_t at, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (std::size_t i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void sendCommand(ToolLink& link, std::uint32_t base, const ToolCommand& command) {
    link.connectTcp();
    if (link.portOpen()) link.queueAndFlush(base + kToolCommandOffset, command.encode());
    link.closeTcp();
}

}  // namespace

CanFrame::Data ToolCommand::encode() const {
    CanFrame::Data d{};
    putFloat(d, 0, value);
    put16(d, 4, tool);
    put16(d, 6, start);
    return d;
}

ToolCommand ToolCommand::decode(const CanFrame::Data& data) {
    return {getFloat(data, 0), get16(data, 4), get16(data, 6)};
}

ToolCommand selectCommand(std::uint16_t tool) {
    return {0.0f, tool, 0};
}
ToolCommand deselectCommand() {
    return {0.0f, tool_number::kNone, 0};
}
ToolCommand requestCommand() {
    return {0.0f, tool_number::kNone, 1};
}

CanFrame::Data AcquisitionStatus::encode() const {
    return packWords({word0, word1, word2, phase});
}

AcquisitionStatus AcquisitionStatus::decode(const CanFrame::Data& data) {
    const auto w = dataWords(data);
    return {w[0], w[1], w[2], w[3]};
}

std::array<std::uint16_t, 4> dataWords(const CanFrame::Data& data) {
    return {get16(data, 0), get16(data, 2), get16(data, 4), get16(data, 6)};
}

CanFrame::Data packWords(const std::array<std::uint16_t, 4>& words) {
    CanFrame::Data d{};
    for (std::size_t i = 0; i < 4; ++i) put16(d, 2 * i, words[i]);
    return d;
}

std::array<float, 2> dataFloats(const CanFrame::Data& data) {
    return {getFloat(data, 0), getFloat(data, 4)};
}

CanFrame::Data packFloats(const std::array<float, 2>& values) {
    CanFrame::Data d{};
    putFloat(d, 0, values[0]);
    putFloat(d, 4, values[1]);
    return d;
}

void selectTool(ToolLink& link, std::uint32_t base, std::uint16_t tool) {
    sendCommand(link, base, selectCommand(tool));
}

void deselectTool(ToolLink& link, std::uint32_t base) {
    sendCommand(link, base, deselectCommand());
}

MessageBoxRequest connectFailureMessage() {
    return {"Could not open TCP connection\r\n\r\nCheck your network and IP settings",
            "Connect Failure", MessageIcon::Error, MessageButtons::Ok, MessageAnswer::Ok};
}

MessageBoxRequest unknownExceptionMessage() {
    return {"Unknown exception occurred", "Unknown exception", MessageIcon::Error,
            MessageButtons::Ok, MessageAnswer::Ok};
}

MessageBoxRequest acquisitionErrorMessage(std::string text) {
    return {std::move(text), "Acquisition error", MessageIcon::Error, MessageButtons::Ok,
            MessageAnswer::Ok};
}

ToolAcquisition::ToolAcquisition(ToolLink& link, std::uint32_t base, AcquisitionScript& script,
                                 RequestSending sending)
    : link_(link), base_(base), script_(script), sending_(sending) {}

ToolAcquisition::State ToolAcquisition::start(const std::function<double()>& now) {
    if (state_ == State::Waiting) return state_;
    taken_ = 0;
    if (!link_.connectTcp()) {
        state_ = State::NotConnected;
        return state_;
    }
    const auto request = requestCommand().encode();
    if (sending_ == RequestSending::Immediate)
        link_.sendNow(base_ + kToolCommandOffset, request);
    else if (link_.portOpen())
        link_.queueAndFlush(base_ + kToolCommandOffset, request);
    state_ = State::Waiting;
    advance(now());
    return state_;
}

void ToolAcquisition::advance(double nowMs) {
    step_ = script_.nextStep();
    if (!step_) {
        state_ = State::Complete;
        return;
    }
    deadline_ = nowMs + step_->timeoutMs;
}

bool ToolAcquisition::offerFrame(std::uint32_t identifier, const CanFrame::Data& data,
                                 double nowMs) {
    if (state_ != State::Waiting || !step_ || identifier != base_ + step_->offset) return false;
    ++taken_;
    if (!script_.accept(data)) {
        fail();
        return true;
    }
    advance(nowMs);
    return true;
}

void ToolAcquisition::poll(double nowMs) {
    if (state_ != State::Waiting || nowMs < deadline_) return;
    script_.timedOut();
    fail();
}

void ToolAcquisition::fail() {
    // The connection closes before the user hears why.
    link_.closeTcp();
    state_ = State::Failed;
    step_.reset();
}

void ToolAcquisition::abandon() {
    if (state_ != State::Waiting) return;
    link_.closeTcp();
    state_ = State::Idle;
    step_.reset();
}

std::optional<std::uint32_t> ToolAcquisition::wantedIdentifier() const {
    if (state_ != State::Waiting || !step_) return std::nullopt;
    return base_ + step_->offset;
}

std::optional<double> ToolAcquisition::deadlineMs() const {
    if (state_ != State::Waiting) return std::nullopt;
    return deadline_;
}

}  // namespace qv
