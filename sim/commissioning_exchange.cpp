#include "sim/commissioning_exchange.h"

#include <algorithm>
#include <cstring>

#include "sim/faults.h"
#include "sim/object_table.h"

namespace qv::sim {

namespace {

std::vector<std::pair<std::string, SimToolFactory>>& toolRegistry() {
    static std::vector<std::pair<std::string, SimToolFactory>> tools;
    return tools;
}

std::uint16_t word(const CanFrame::Data& d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

constexpr std::size_t kStreamHeaderSize = 30;

}  // namespace

CanFrame::Data replyWords(std::uint16_t w0, std::uint16_t w1, std::uint16_t w2, std::uint16_t w3) {
    CanFrame::Data d{};
    const std::uint16_t w[4] = {w0, w1, w2, w3};
    for (std::size_t i = 0; i < 4; ++i) {
        d[2 * i] = static_cast<std::uint8_t>(w[i]);
        d[2 * i + 1] = static_cast<std::uint8_t>(w[i] >> 8);
    }
    return d;
}

SimToolRegistrar::SimToolRegistrar(const char* name, SimToolFactory factory) {
    toolRegistry().emplace_back(name, factory);
}

std::vector<std::pair<std::string, SimToolFactory>> registeredSimTools() {
    auto list = toolRegistry();
    std::sort(list.begin(), list.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return list;
}

PrivateConfig storedPrivateConfig(const Controller& controller) {
    PrivateConfig p{};
    const auto* stream =
        controller.objects().read(static_cast<std::uint16_t>(object::kConfigStream + 1));
    if (stream && stream->size() >= kStreamHeaderSize + sizeof p)
        std::memcpy(&p, stream->data() + kStreamHeaderSize, sizeof p);
    return p;
}

CommissioningExchange::CommissioningExchange(ToolFaults faults,
                                             std::vector<std::unique_ptr<SimTool>> tools,
                                             std::uint64_t seed)
    : faults_(faults), tools_(std::move(tools)), rng_(seed) {}

bool CommissioningExchange::onFrame(Controller& controller, std::uint32_t offset,
                                    const CanFrame& frame, double nowMs) {
    if (offset != kToolCommandOffset || frame.remote() || frame.length() != 8) return false;
    const auto& d = frame.data();
    if (word(d, 6) == 1)
        start(controller, nowMs);
    else
        selected_ = word(d, 4);
    return true;
}

void CommissioningExchange::start(Controller& controller, double nowMs) {
    // A new request replaces an acquisition still under way.
    due_.clear();
    const auto tool = std::find_if(tools_.begin(), tools_.end(),
                                   [this](const auto& t) { return t->number() == selected_; });
    if (selected_ == 0 || tool == tools_.end() || faults_.silent) return;
    ++acquisitions_;
    ToolSetting setting{storedPrivateConfig(controller), &rng_};
    const std::vector<ToolReply> replies = (*tool)->acquire(setting);
    double at = nowMs;
    int status = 0;
    int data = 0;
    bool stopped = false;
    for (const ToolReply& r : replies) {
        at += r.delayMs;
        if (r.status) {
            const int k = status++;
            if (stopped || (faults_.omitStatus && k == *faults_.omitStatus)) continue;
            CanFrame::Data bytes = r.data;
            if (faults_.wrongPhase && k == *faults_.wrongPhase) bytes[6] = bytes[7] = 0;
            due_.push_back({at, kToolStatusOffset, bytes});
        } else {
            const int k = data++;
            if (faults_.stopData && k >= *faults_.stopData) stopped = true;
            if (stopped || (faults_.omitData && k == *faults_.omitData)) continue;
            due_.push_back({at, kToolDataOffset, r.data});
        }
    }
}

void CommissioningExchange::tick(Controller& controller, double nowMs) {
    while (!due_.empty() && due_.front().atMs <= nowMs) {
        controller.sendFrame(
            CanFrame(controller.base() + due_.front().offset, false, false, 8, due_.front().data));
        due_.pop_front();
    }
}

void CommissioningExchange::reset() {
    due_.clear();
    selected_ = 0;
}

namespace {

std::unique_ptr<ControllerBehaviour> makeExchange(const Options& options, const SimDevice& device) {
    std::vector<std::unique_ptr<SimTool>> tools;
    for (const auto& [name, factory] : registeredSimTools())
        if (auto tool = factory(options, device)) tools.push_back(std::move(tool));
    return std::make_unique<CommissioningExchange>(options.commissioning.faults, std::move(tools),
                                                   deriveSeed(options.seed, 0x7001 + device.base));
}

}  // namespace

QV_SIM_BEHAVIOUR(commissioning, makeExchange);

}  // namespace qv::sim
