#pragma once
// The simulated outside world: one CAN bus with a bridge and the controllers given in the
// options. A single-threaded loop waits on the sockets (at most 1 ms at a time), moves frames
// between the nodes and sends what is due. run() may be called on a thread of its own; stop()
// and post() are safe from any thread (stop() also from a signal handler).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/bms_node.h"
#include "sim/bridge.h"
#include "sim/bus.h"
#include "sim/controller.h"
#include "sim/foreign_driver_controls.h"
#include "sim/device_events.h"
#include "sim/load_generator.h"
#include "sim/options.h"

namespace qv::sim {

struct WorldStats {
    std::uint64_t passes = 0;
    std::uint64_t busFrames = 0;  // frames put on the bus by any node
    BridgeCounters bridge;
};

class World {
  public:
    explicit World(Options options);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Opens the bridge's sockets. False with a message when that fails.
    bool open(std::string* error);
    // Runs the loop until stop(), a "quit" command, or `seconds` have passed (0: no limit).
    void run(double seconds = 0);
    void stop() { stopRequested_.store(true); }

    // Queues a command line ("mute 0x400", "unmute 0x400", "withdraw 0x400", "silence 0x400",
    // "unsilence 0x400", "quit"), handled by the loop.
    void post(std::string line);
    // Reads command lines from `fd` (standard input) without blocking the loop; end of input
    // only ends the reading. Call before run().
    void watchCommands(int fd) { commandFd_ = fd; }
    // Stops the loop when `fd` becomes readable (a signalfd for SIGINT and SIGTERM): the signals
    // are handled in the loop, not in an asynchronous handler. Call before run().
    void stopWhenReadable(int fd) { stopFd_ = fd; }
    // Carries out one command line now (loop thread, or before run()). Returns an error text,
    // empty on success.
    std::string execute(const std::string& line);

    // Where verbose reports and command errors go (default: stdout when verbose, and stderr).
    void setLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
    void setErrorSink(std::function<void(const std::string&)> sink) { errors_ = std::move(sink); }

    WorldStats stats() const;
    std::uint64_t bridgeSenderId() const { return bridge_->senderId(); }
    const Options& options() const { return options_; }
    // Milliseconds since the world was made (monotonic).
    double nowMs() const;
    // The controller at `base` (the first one), or null. Not thread-safe: use before run() or
    // from the loop thread.
    Controller* controller(std::uint32_t base);

  private:
    void readCommands();
    std::string foreignDriverControlsCommand(const std::vector<std::string>& words);
    void runPostedCommands();
    void report(const std::string& text) const;
    void publishStats();

    Options options_;
    std::chrono::steady_clock::time_point epoch_;
    Bus bus_;
    std::unique_ptr<Bridge> bridge_;
    std::vector<std::unique_ptr<Controller>> controllers_;
    std::unique_ptr<ForeignDriverControls> foreignDriverControls_;
    std::unique_ptr<BmsNode> bms_;
    std::unique_ptr<LoadGenerator> load_;
    std::unique_ptr<DeviceEvents> deviceEvents_;
    std::vector<Node*> nodes_;
    std::function<void(const std::string&)> log_;
    std::function<void(const std::string&)> errors_;
    std::atomic<bool> stopRequested_{false};
    int commandFd_ = -1;
    int stopFd_ = -1;
    std::string commandLine_;
    bool discardingLine_ = false;
    mutable std::mutex mutex_;  // guards posted_ and stats_
    std::deque<std::string> posted_;
    WorldStats stats_;
    std::uint64_t passes_ = 0;
};

// Runs a world on a thread for tests and benchmarks: opens it (throwing std::runtime_error
// when that fails), starts the loop, and stops and joins it on destruction.
class BackgroundWorld {
  public:
    explicit BackgroundWorld(Options options);
    ~BackgroundWorld();
    World& world() { return *world_; }

  private:
    std::unique_ptr<World> world_;
    std::thread thread_;
};

}  // namespace qv::sim
