#include "config/config_progress.h"

#include <algorithm>

namespace qv {

template <typename Change>
void CConfigProg::change(Change&& apply) {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        apply(state_);
        listener = listener_;
    }
    if (listener) listener();
}

void CConfigProg::setChangeListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

ConfigProgressState CConfigProg::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::vector<std::string> CConfigProg::captionHistory() const {
    std::lock_guard lock(mutex_);
    return history_;
}

void CConfigProg::clearHistory() {
    std::lock_guard lock(mutex_);
    history_.clear();
}

void CConfigProg::pressCancel(CConfigDataBank& store, CBcan& port) {
    {
        std::lock_guard lock(mutex_);
        if (!state_.visible || !state_.cancelEnabled) return;
    }
    cancelTransfer(store, port, *this);
}

bool CConfigProg::isEnabled() const {
    std::lock_guard lock(mutex_);
    return state_.enabled;
}

void CConfigProg::setCaption(const std::string& caption) {
    change([&](ConfigProgressState& s) {
        s.caption = caption;
        if (history_.empty() || history_.back() != caption) history_.push_back(caption);
    });
}

void CConfigProg::setRange(std::uint32_t total) {
    change([&](ConfigProgressState& s) {
        s.range = total;
        s.position = std::min(s.position, total);
    });
}

void CConfigProg::setPosition(std::uint32_t position) {
    change([&](ConfigProgressState& s) { s.position = std::min(position, s.range); });
}

void CConfigProg::showAndEnable() {
    change([](ConfigProgressState& s) {
        s.visible = true;
        s.enabled = true;
        s.cancelEnabled = true;
    });
}

void CConfigProg::disableAndHide() {
    change([](ConfigProgressState& s) {
        s.enabled = false;
        s.visible = false;
    });
}

void CConfigProg::disableCancel() {
    change([](ConfigProgressState& s) { s.cancelEnabled = false; });
}

void CConfigProg::advance(std::uint32_t bytes) {
    change([&](ConfigProgressState& s) {
        if (!s.enabled) return;
        const std::uint64_t next = std::uint64_t{s.position} + bytes;
        s.position = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, s.range));
    });
}

}  // namespace qv
