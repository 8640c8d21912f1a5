// Placeholder until the engine is built: refuses every transfer.
#include "link/stream_engine.h"

namespace qv {

struct StreamEngine::State {
    Io io;
};

StreamEngine::StreamEngine(Io io) : s_(std::make_unique<State>(State{std::move(io)})) {}
StreamEngine::~StreamEngine() = default;
bool StreamEngine::configureStream(std::uint32_t, std::uint32_t, std::uint16_t, double,
                                   std::uint32_t, PacketReceivedListener*) {
    return false;
}
void StreamEngine::clear() {}
bool StreamEngine::startTransfer(std::span<std::uint8_t>, std::uint16_t, std::uint16_t, bool,
                                 bool, bool) {
    return false;
}
void StreamEngine::abortTransfer() {}
void StreamEngine::handleCommand(const CanFrame&) {}
void StreamEngine::handleData(const CanFrame&) {}
bool StreamEngine::pollTransfer() { return true; }
void StreamEngine::abortAfterTimeout() {}
std::uint32_t StreamEngine::controlId() const { return kNoStreamId; }
std::uint32_t StreamEngine::dataId() const { return 0; }
bool StreamEngine::wantsData() const { return false; }
bool StreamEngine::busy() const { return false; }
std::uint16_t StreamEngine::framesPerBlock() const { return 20; }

}  // namespace qv
