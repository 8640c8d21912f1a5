#include "sim/controller.h"

#include <algorithm>
#include <cstdio>

namespace qv::sim {

namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(value));
    return text;
}

// Close (2): the answer to the initiator's Close (0).
bool isCloseAcknowledge(const CanFrame& f) {
    const auto& d = f.data();
    return d[0] == 2 && d[1] == 0 && d[2] == 2 && d[3] == 0;
}

bool isConfigStream(std::uint16_t index) {
    return index >= object::kConfigStream && index < object::kConfigStream + 3;
}

std::vector<std::pair<std::string, BehaviourFactory>>& behaviourRegistry() {
    static std::vector<std::pair<std::string, BehaviourFactory>> factories;
    return factories;
}

}  // namespace

BehaviourRegistrar::BehaviourRegistrar(const char* name, BehaviourFactory factory) {
    behaviourRegistry().emplace_back(name, factory);
}

std::vector<std::pair<std::string, BehaviourFactory>> registeredBehaviours() {
    auto list = behaviourRegistry();
    std::sort(list.begin(), list.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return list;
}

void Controller::addBehaviour(std::unique_ptr<ControllerBehaviour> behaviour) {
    if (behaviour) behaviours_.push_back(std::move(behaviour));
}

Controller::Controller(Bus& bus, ControllerSettings settings)
    : bus_(bus),
      settings_(std::move(settings)),
      objects_(makeControllerObjects(settings_.device.base, settings_.device.serial,
                                     settings_.maxObjectBytes)),
      config_(settings_.device.base, settings_.device.serial, settings_.config),
      engine_(StreamEngine::Io{[this](const CanFrame& f) {
                                   if (loseNextClose_ &&
                                       f.identifier() == base() + kControlOffset &&
                                       isCloseAcknowledge(f)) {
                                       loseNextClose_ = false;
                                       log("lost the Close (2) of the write");
                                       return true;
                                   }
                                   outbox_.push_back(f);
                                   return true;
                               },
                               [this] {
                                   for (const CanFrame& f : outbox_) send(f);
                                   outbox_.clear();
                                   return true;
                               },
                               [this] { return now(); }}),
      muted_(settings_.muted) {
    defineConfigObjects(objects_, config_, settings_.maxObjectBytes);
    model_.setKind(TelemetryModel::kindOf(settings_.device.product));
    model_.setActiveMotor(settings_.device.activeMotor);
    configureEngine();
}

double Controller::now() const {
    return settings_.clock ? settings_.clock() : nowMs_;
}

void Controller::log(const std::string& text) const {
    if (settings_.log) settings_.log("controller " + hex(base()) + ": " + text);
}

void Controller::configureEngine() {
    if (!engine_.configureStream(base() + kControlOffset, base() + kDataOffset, kDefaultBlockSize,
                                 kDefaultStreamTimeoutMs, kDefaultStreamRetries, this))
        log("stream engine refused its configuration");
    job_ = Job::kNone;
}

void Controller::send(const CanFrame& frame) {
    bus_.send(frame, this);
}

CanFrame Controller::identificationFrame() const {
    CanFrame::Data d{};
    for (std::size_t i = 0; i < 4; ++i) {
        d[i] = static_cast<std::uint8_t>(settings_.device.product >> (8 * i));
        d[4 + i] = static_cast<std::uint8_t>(settings_.device.serial >> (8 * i));
    }
    return CanFrame(base(), false, false, 8, d);
}

CanFrame Controller::telemetryFrame(std::uint32_t offset, double nowMs) {
    model_.advance(nowMs);
    auto data = model_.message(offset).value_or(CanFrame::Data{});
    // Without a usable configuration the status reports the configuration error ("CFG").
    if (offset == 0x01 && config_.recovery()) data[2] |= 0x20;
    return CanFrame(base() + offset, false, false, 8, data);
}

void Controller::setMuted(bool muted) {
    if (muted == muted_) return;
    muted_ = muted;
    if (muted) {
        // Forget the transfer under way: a controller that stops answering says nothing more.
        engine_.clear();
        configureEngine();
        pendingAck_.reset();
        for (auto& b : behaviours_) b->reset();
    }
    log(muted ? "muted" : "answering again");
}

void Controller::withdraw() {
    if (silent_) return;
    CanFrame::Data d{};
    d[3] = 0xFF;
    for (std::size_t i = 0; i < 4; ++i)
        d[4 + i] = static_cast<std::uint8_t>(settings_.device.serial >> (8 * i));
    send(CanFrame(base(), false, false, 8, d));
    silent_ = true;
    log("withdrew from the bus");
}

void Controller::onFrame(const CanFrame& frame, double nowMs) {
    nowMs_ = nowMs;
    if (silent_ || resetting_ || muted_ || frame.extended()) return;
    const std::uint32_t id = frame.identifier();
    if (id < base() || id >= base() + 0x20) {
        for (auto& b : behaviours_)
            if (b->onBusFrame(*this, frame, nowMs)) return;
        return;
    }
    const std::uint32_t offset = id - base();
    if (frame.remote() && TelemetryModel::isTelemetryOffset(offset)) {
        send(telemetryFrame(offset, nowMs));
        return;
    }
    if (!frame.remote() && offset == kControlOffset) {
        engine_.handleCommand(frame);
        return;
    }
    if (!frame.remote() && offset == kDataOffset) {
        if (engine_.wantsData()) engine_.handleData(frame);
        return;
    }
    for (auto& b : behaviours_)
        if (b->onFrame(*this, offset, frame, nowMs)) return;
}

void Controller::tick(double nowMs) {
    nowMs_ = nowMs;
    if (silent_) {
        nextAnnounceMs_ = nextTelemetryMs_ = -1;  // announce at once when it speaks again
        return;
    }
    if (resetRequested_) {
        // Deferred out of the engine's event: the reset forgets the engine's state.
        resetRequested_ = false;
        resetting_ = true;
        resetEndMs_ = nowMs + kResetMs;
        engine_.clear();
        pendingAck_.reset();
        job_ = Job::kNone;
        for (auto& b : behaviours_) b->reset();
        config_.reset();
        defineConfigObjects(objects_, config_, settings_.maxObjectBytes);
        log(config_.recovery() ? "resetting (still without a usable configuration)" : "resetting");
    }
    if (resetting_) {
        if (nowMs < resetEndMs_) return;
        resetting_ = false;
        configureEngine();
        nextAnnounceMs_ = nextTelemetryMs_ = nowMs;
        log("running again after the reset");
    }
    if (nextAnnounceMs_ < 0) nextAnnounceMs_ = nextTelemetryMs_ = nowMs;  // first pass
    if (nowMs >= nextAnnounceMs_) {
        send(identificationFrame());
        nextAnnounceMs_ = nextDeadline(nextAnnounceMs_, kAnnouncePeriodMs, nowMs);
    }
    if (nowMs >= nextTelemetryMs_) {
        for (std::uint32_t offset : TelemetryModel::kOffsets) send(telemetryFrame(offset, nowMs));
        nextTelemetryMs_ = nextDeadline(nextTelemetryMs_, kTelemetryPeriodMs, nowMs);
    }
    if (muted_) return;
    for (auto& b : behaviours_) b->tick(*this, nowMs);
    if (!engine_.pollTransfer()) engine_.abortAfterTimeout();
    if (pendingAck_ && nowMs >= pendingAck_->dueMs) {
        if (!engine_.busy()) {
            // The flash write is done: tell the program by a transfer of our own.
            ack_ = {static_cast<std::uint8_t>(pendingAck_->index & 0xFF),
                    static_cast<std::uint8_t>(pendingAck_->index >> 8)};
            job_ = Job::kAck;
            jobIndex_ = object::kWriteAck;
            if (engine_.startTransfer(ack_, object::kWriteAck, 2, true, true, false)) {
                log("acknowledging the write of " + hex(pendingAck_->index));
            } else {
                job_ = Job::kNone;
                log("could not start the write acknowledgement");
            }
            pendingAck_.reset();
        } else if (nowMs >= pendingAck_->giveUpMs) {
            log("gave up acknowledging the write of " + hex(pendingAck_->index));
            pendingAck_.reset();
        }
    }
}

int Controller::acceptRequest(const TransferInfo& info) {
    const std::uint16_t index = info.word1;
    const std::uint16_t requested = info.word2;
    const bool peerReceives = (info.word3 & 0xFF00) != 0;
    const bool chunked = (info.word3 & 0x00FF) != 0;
    if (requested == 0 || index == object::kWriteAck) return 1;
    if (peerReceives) {
        const std::vector<std::uint8_t>* bytes = objects_.read(index);
        if (!bytes || bytes->empty()) return 1;
        std::uint16_t length;
        std::span<std::uint8_t> buffer;
        if (chunked) {
            // The first chunk never exceeds what the program offers; later chunks follow the
            // same window.
            snapshot_ = *bytes;
            const std::size_t window = std::min<std::size_t>(requested, window_.size());
            length = chunkSender_.start(snapshot_, std::span(window_).first(window));
            buffer = std::span(window_).first(window);
        } else {
            whole_.assign(bytes->begin(), bytes->end());
            length = static_cast<std::uint16_t>(std::min<std::size_t>(requested, whole_.size()));
            buffer = whole_;
        }
        if (!engine_.startTransfer(buffer, index, length, true, false, chunked)) return 1;
        job_ = Job::kRead;
        jobIndex_ = index;
        jobChunked_ = chunked;
        jobLength_ = length;
        return 0;
    }
    const std::size_t limit = objects_.writeLimit(index);
    if (limit == 0) return 1;
    std::uint16_t length;
    std::span<std::uint8_t> buffer;
    if (chunked) {
        // One byte more than allowed, so that an over-long stream is noticed and refused
        // instead of being stored cut short.
        incoming_.assign(limit + 1, 0);
        const std::uint16_t first = chunkReceiver_.start(incoming_, window_);
        length = std::min(first, requested);
        buffer = std::span(window_).first(length);
    } else {
        if (requested > limit) return 1;
        whole_.assign(requested, 0);
        length = requested;
        buffer = whole_;
    }
    if (!engine_.startTransfer(buffer, index, length, false, false, chunked)) return 1;
    loseNextClose_ = config_.modes().loseClose && isConfigStream(index);
    job_ = Job::kWrite;
    jobIndex_ = index;
    jobChunked_ = chunked;
    jobLength_ = length;
    return 0;
}

void Controller::finishWrite() {
    const std::span<const std::uint8_t> bytes =
        jobChunked_ ? std::span<const std::uint8_t>(incoming_).first(chunkReceiver_.received())
                    : std::span<const std::uint8_t>(whole_).first(jobLength_);
    if (jobIndex_ == object::kReset) {
        if (bytes.size() == 1) resetRequested_ = true;
        return;
    }
    if (isConfigStream(jobIndex_) && !settings_.rawObjects) {
        if (!storeConfigStream(bytes)) return;
    } else {
        if (!objects_.store(jobIndex_, bytes)) {
            log("could not store " + std::to_string(bytes.size()) + " bytes into " +
                hex(jobIndex_));
            return;
        }
        if (isConfigStream(jobIndex_)) refreshStreamLengths(objects_);
        log("stored " + std::to_string(bytes.size()) + " bytes into " + hex(jobIndex_));
    }
    const double flashMs = config_.modes().slowFlash ? kSlowFlashWriteMs : kFlashWriteMs;
    pendingAck_ = PendingAck{nowMs_ + flashMs, nowMs_ + flashMs + kAckGiveUpMs, jobIndex_};
}

bool Controller::storeConfigStream(std::span<const std::uint8_t> bytes) {
    const int kind = jobIndex_ - object::kConfigStream;
    if (bytes.size() > objects_.writeLimit(jobIndex_)) {
        log("refused " + std::to_string(bytes.size()) + " bytes for " + hex(jobIndex_) +
            ": longer than " + std::to_string(objects_.writeLimit(jobIndex_)));
        return false;
    }
    if (const std::string why = config_.write(kind, bytes); !why.empty()) {
        log("refused the write of " + hex(jobIndex_) + ": " + why);
        return false;
    }
    defineConfigObjects(objects_, config_, settings_.maxObjectBytes);
    log("stored " + std::to_string(bytes.size()) + " bytes into " + hex(jobIndex_));
    if (!config_.acknowledges(kind)) {
        log("the flash write of " + hex(jobIndex_) + " is never acknowledged");
        return false;
    }
    return true;
}

int Controller::onStreamEvent(int type, TransferInfo& info) {
    switch (type) {
        case kStreamRequest: {
            const int answer = acceptRequest(info);
            log((answer == 0 ? "accepted" : "refused") + std::string(" a request for ") +
                hex(info.word1) + ((info.word3 & 0xFF00) ? " (read, " : " (write, ") +
                std::to_string(info.word2) + " bytes" + ((info.word3 & 0xFF) ? ", chunked)" : ")"));
            return answer;
        }
        case kStreamChunk:
            if (job_ == Job::kRead && jobChunked_) return chunkSender_.onChunk(info);
            if (job_ == Job::kWrite && jobChunked_) return chunkReceiver_.onChunk(info);
            return 1;
        case kStreamDone:
            if (job_ == Job::kWrite) finishWrite();
            if (job_ == Job::kRead) log("served " + hex(jobIndex_));
            if (job_ == Job::kAck) log("write acknowledged");
            job_ = Job::kNone;
            return 0;
        case kStreamAborted:
            log("transfer of " + hex(jobIndex_) + " aborted (code " + std::to_string(info.word0) +
                ")");
            job_ = Job::kNone;
            return 0;
        default:
            return 0;
    }
}

}  // namespace qv::sim
