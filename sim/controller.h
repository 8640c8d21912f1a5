#pragma once
// A motor controller on the simulated bus: announces itself, broadcasts telemetry and answers
// remote requests for it, and serves its object table over the stream transfer protocol with
// the same engine and chunk rules as the program, playing the controller's role.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/chunk_cursor.h"
#include "link/stream_engine.h"
#include "sim/bus.h"
#include "sim/controller_config.h"
#include "sim/object_table.h"
#include "sim/options.h"
#include "sim/telemetry_model.h"

namespace qv::sim {

inline constexpr double kAnnouncePeriodMs = 1000.0;
inline constexpr double kTelemetryPeriodMs = 200.0;
inline constexpr double kFlashWriteMs = 50.0;        // from a stored write to its acknowledgement
inline constexpr double kSlowFlashWriteMs = 1700.0;  // the same for a slow flash (slow-flash)
inline constexpr double kAckGiveUpMs = 2000.0;       // the acknowledgement waits this long for idle
inline constexpr double kResetMs = 1000.0;           // silent time after a reset
inline constexpr std::uint32_t kControlOffset = 0x12;
inline constexpr std::uint32_t kDataOffset = 0x14;

class Controller;
struct Options;

// Something a simulated controller does beyond identification, telemetry and the stream
// transfer (obeying drive commands, answering a commissioning tool...). Each lives in a file of
// its own and registers a factory with QV_SIM_BEHAVIOUR; the world gives every controller the
// behaviours whose factory returns one for its options.
class ControllerBehaviour {
  public:
    virtual ~ControllerBehaviour() = default;
    // A data or remote frame at base + offset (0..0x1F) that the controller did not take itself
    // (everything but telemetry remote requests and the stream identifiers). True when taken.
    virtual bool onFrame(Controller& controller, std::uint32_t offset, const CanFrame& frame,
                         double nowMs) = 0;
    // A standard frame outside the controller's base range (a driver-controls node's command,
    // say). True when taken.
    virtual bool onBusFrame(Controller& /*controller*/, const CanFrame& /*frame*/,
                            double /*nowMs*/) {
        return false;
    }
    // Every loop pass while the controller runs (not while muted or resetting).
    virtual void tick(Controller& /*controller*/, double /*nowMs*/) {}
    // The controller was reset or muted: forget anything under way.
    virtual void reset() {}
};

using BehaviourFactory = std::unique_ptr<ControllerBehaviour> (*)(const Options& options,
                                                                  const SimDevice& device);

struct BehaviourRegistrar {
    BehaviourRegistrar(const char* name, BehaviourFactory factory);
};
// The registered factories, by name (the order of names, so that it is deterministic).
std::vector<std::pair<std::string, BehaviourFactory>> registeredBehaviours();

#define QV_SIM_BEHAVIOUR(name, factory)                                \
    static const ::qv::sim::BehaviourRegistrar qvSimBehaviour_##name { \
#name, factory                                                 \
    }

struct ControllerSettings {
    SimDevice device;
    bool muted = false;
    std::size_t maxObjectBytes = kMaxConfigStream;
    SimConfigModes config;          // how its configuration behaves
    bool rawObjects = false;        // configuration objects store any bytes, unverified
    std::function<double()> clock;  // monotonic milliseconds
    std::function<void(const std::string&)> log;  // verbose reports; may be empty
};

class Controller : public Node, private PacketReceivedListener {
  public:
    Controller(Bus& bus, ControllerSettings settings);

    void onFrame(const CanFrame& frame, double nowMs) override;
    void tick(double nowMs) override;

    // A muted controller keeps announcing and broadcasting but answers neither remote requests
    // nor the stream protocol; muting forgets any transfer under way.
    void setMuted(bool muted);
    bool muted() const { return muted_; }
    // A silent controller sends nothing at all and answers nothing (it left the bus).
    void setSilent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }
    // Announces that it leaves (an unknown identification with byte 3 = 0xFF), then falls
    // silent.
    void withdraw();
    bool resetting() const { return resetting_; }
    std::uint32_t base() const { return settings_.device.base; }
    const SimDevice& device() const { return settings_.device; }
    const ObjectTable& objects() const { return objects_; }
    const ControllerConfig& config() const { return config_; }
    // Resets as after a write of the reset object (at the next loop pass).
    void requestReset() { resetRequested_ = true; }
    // Telemetry message at base + offset (0x01..0x0E, 0x17) as it reads now.
    CanFrame telemetryFrame(std::uint32_t offset, double nowMs);
    CanFrame identificationFrame() const;

    // For behaviours: put a frame on the bus as this controller, and the measurements it reports.
    void sendFrame(const CanFrame& frame) { send(frame); }
    TelemetryModel& telemetry() { return model_; }
    void addBehaviour(std::unique_ptr<ControllerBehaviour> behaviour);

  private:
    enum class Job { kNone, kRead, kWrite, kAck };

    void onPacketReceived(const CanPacket&) override {}
    int onStreamEvent(int type, TransferInfo& info) override;
    int acceptRequest(const TransferInfo& info);
    void finishWrite();
    // A written configuration stream: verified, stored, acknowledged. False when refused.
    bool storeConfigStream(std::span<const std::uint8_t> bytes);
    void send(const CanFrame& frame);
    void configureEngine();
    void log(const std::string& text) const;
    double now() const;

    Bus& bus_;
    ControllerSettings settings_;
    ObjectTable objects_;
    ControllerConfig config_;
    TelemetryModel model_;
    StreamEngine engine_;
    std::vector<std::unique_ptr<ControllerBehaviour>> behaviours_;
    std::vector<CanFrame> outbox_;
    double nowMs_ = 0;
    bool muted_ = false;
    bool silent_ = false;

    // The transfer under way and its buffers.
    Job job_ = Job::kNone;
    std::uint16_t jobIndex_ = 0;
    bool jobChunked_ = false;
    std::uint16_t jobLength_ = 0;
    ChunkSender chunkSender_;
    ChunkReceiver chunkReceiver_;
    std::array<std::uint8_t, kChunkSize> window_{};
    std::vector<std::uint8_t> whole_;     // buffer of a whole (not chunked) transfer
    std::vector<std::uint8_t> snapshot_;  // object being read in chunks
    std::vector<std::uint8_t> incoming_;  // object being written in chunks
    std::array<std::uint8_t, 2> ack_{};

    struct PendingAck {
        double dueMs;
        double giveUpMs;
        std::uint16_t index;
    };
    std::optional<PendingAck> pendingAck_;
    bool resetRequested_ = false;
    bool loseNextClose_ = false;  // lose-close: the Close (2) that ends a stored write is lost
    bool resetting_ = false;
    double resetEndMs_ = 0;
    double nextAnnounceMs_ = -1;  // -1: not started; the first pass sends and sets the phase
    double nextTelemetryMs_ = -1;
};

}  // namespace qv::sim
