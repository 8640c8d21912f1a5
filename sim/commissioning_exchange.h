#pragma once
// A controller's side of the commissioning exchange: it remembers which tool window the PC has
// open (the command on base + 15), and on a request runs that tool's acquisition, sending its
// status replies on base + 16 and its data frames on base + 17 at their times. Each tool lives in
// a file of its own and registers with QV_SIM_COMMISSIONING_TOOL; the faults of ToolFaults apply
// to every tool.
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "config/config_records.h"
#include "link/can_frame.h"
#include "sim/controller.h"
#include "sim/options.h"

namespace qv::sim {

inline constexpr std::uint32_t kToolCommandOffset = 15;
inline constexpr std::uint32_t kToolStatusOffset = 16;
inline constexpr std::uint32_t kToolDataOffset = 17;

// One frame of an acquisition: sent `delayMs` after the one before it (the first after the
// request).
struct ToolReply {
    double delayMs = 0;
    bool status = false;  // status on base + 16, else data on base + 17
    CanFrame::Data data{};
};

// Little-endian words of a reply.
CanFrame::Data replyWords(std::uint16_t w0, std::uint16_t w1, std::uint16_t w2, std::uint16_t w3);

// What a controller knows about itself that a tool needs.
struct ToolSetting {
    PrivateConfig calibration{};  // the private record the controller holds now
    std::mt19937_64* rng = nullptr;
};

class SimTool {
  public:
    virtual ~SimTool() = default;
    virtual std::uint16_t number() const = 0;
    // The replies of one acquisition, in order.
    virtual std::vector<ToolReply> acquire(const ToolSetting& setting) = 0;
};

using SimToolFactory = std::unique_ptr<SimTool> (*)(const Options& options,
                                                    const SimDevice& device);

struct SimToolRegistrar {
    SimToolRegistrar(const char* name, SimToolFactory factory);
};
std::vector<std::pair<std::string, SimToolFactory>> registeredSimTools();

#define QV_SIM_COMMISSIONING_TOOL(name, factory)                \
    static const ::qv::sim::SimToolRegistrar qvSimTool_##name { \
#name, factory                                          \
    }

// The private record held in the controller's configuration stream (defaults when unreadable).
PrivateConfig storedPrivateConfig(const Controller& controller);

class CommissioningExchange : public ControllerBehaviour {
  public:
    CommissioningExchange(ToolFaults faults, std::vector<std::unique_ptr<SimTool>> tools,
                          std::uint64_t seed);

    bool onFrame(Controller& controller, std::uint32_t offset, const CanFrame& frame,
                 double nowMs) override;
    void tick(Controller& controller, double nowMs) override;
    void reset() override;

    std::uint16_t selectedTool() const { return selected_; }
    int acquisitions() const { return acquisitions_; }

  private:
    void start(Controller& controller, double nowMs);

    ToolFaults faults_;
    std::vector<std::unique_ptr<SimTool>> tools_;
    std::mt19937_64 rng_;
    std::uint16_t selected_ = 0;
    int acquisitions_ = 0;
    struct Due {
        double atMs;
        std::uint32_t offset;
        CanFrame::Data data;
    };
    std::deque<Due> due_;
};

}  // namespace qv::sim
