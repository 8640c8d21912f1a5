#pragma once
// A simulated world for the window tests that read back what a controller stored.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/world.h"

namespace qv::test {

// The world on its own thread; stop() ends it so that what a controller stored can be read.
class StoppableWorld {
  public:
    explicit StoppableWorld(sim::Options options) : world_(std::move(options)) {
        std::string error;
        if (!world_.open(&error)) throw std::runtime_error(error);
        thread_ = std::thread([this] { world_.run(); });
    }
    ~StoppableWorld() { stop(); }
    void stop() {
        if (!thread_.joinable()) return;
        world_.stop();
        thread_.join();
    }
    // The stream of `kind` the controller at `base` stored (the world stops first).
    std::vector<std::uint8_t> storedStream(std::uint32_t base, int kind) {
        stop();
        return world_.controller(base)->config().storedStream(kind);
    }

  private:
    sim::World world_;
    std::thread thread_;
};

}  // namespace qv::test
