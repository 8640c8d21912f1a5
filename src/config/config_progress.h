#pragma once
// "Processing Configuration" (CConfigProg): the caption of the stage under way, a bar over the
// bytes expected that follows the bytes moved, and a Cancel button. This is the window's state;
// the transfer drives it from the worker thread, the link advances the bar from its receive
// thread, and the window shows it (it is told of every change and reads state()).
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/config_transfer.h"

namespace qv {

struct ConfigProgressState {
    std::string caption;
    std::uint32_t range = 0;
    std::uint32_t position = 0;  // never beyond the range, as a progress bar shows it
    bool visible = false;
    bool enabled = false;
    bool cancelEnabled = false;
};

class CConfigProg final : public TransferProgress {
  public:
    static constexpr const char* kTitle = "Processing Configuration";
    static constexpr int kProgressBarId = 1206;
    static constexpr int kCancelButtonId = 1208;

    // Called after every change, on the thread that made it (the window posts a repaint).
    void setChangeListener(std::function<void()> listener);

    ConfigProgressState state() const;
    // Every caption shown, in order (a caption set again while shown is listed once).
    std::vector<std::string> captionHistory() const;
    void clearHistory();

    // The Cancel button: cancels the transfer under way (cancelTransfer). Ignored while the
    // button is disabled. Escape does nothing in this window.
    void pressCancel(CConfigDataBank& store, CBcan& port);

    // TransferProgress
    bool isEnabled() const override;
    void setCaption(const std::string& caption) override;
    void setRange(std::uint32_t total) override;
    void setPosition(std::uint32_t position) override;
    void showAndEnable() override;
    void disableAndHide() override;
    void disableCancel() override;
    void advance(std::uint32_t bytes) override;

  private:
    template <typename Change>
    void change(Change&& apply);

    mutable std::mutex mutex_;
    ConfigProgressState state_;
    std::vector<std::string> history_;
    std::function<void()> listener_;
};

}  // namespace qv
