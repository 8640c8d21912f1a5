#pragma once
// The error-log windows of the ELog menu: "Error Log Review" (CelogRead) asks how many of the
// latest errors to fetch, "Error Log Erase" (CelogErase) offers an erase with a progress bar.
// No error-log exchange with the controller is defined, so their action buttons (GO, Erase)
// change nothing and send nothing; both windows are modal and never touch the CAN port.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/user_interaction.h"

namespace qv {

inline constexpr std::size_t kErrorLogEventCount = 17;
// The names of the controller's error-log events, by index.
extern const std::array<std::string_view, kErrorLogEventCount> kErrorLogEventNames;

inline constexpr std::uint32_t kMaxErrorLogCount = 16896;
inline constexpr const char* kErrorLogReviewTitle = "Error Log Review";
inline constexpr const char* kErrorLogEraseTitle = "Error Log Erase";
inline constexpr const char* kErrorLogListFont = "Courier New";  // at 8 points
inline constexpr int kErrorLogListFontPoints = 8;

// "Error Log Review" (template 118): list box 1162 for the log lines, edit 1163 ("Get last ...
// errors") and the buttons GO (1024) and OK (1).
class CelogRead {
  public:
    // `applicationTitle` is the caption of the validation prompts.
    CelogRead(UserInteraction& ui, std::string applicationTitle);

    // Text of edit 1163 as the user types it.
    void setCountText(std::string text) { countText_ = std::move(text); }
    const std::string& countText() const { return countText_; }
    // The accepted count (0 until OK accepts a value).
    std::uint32_t count() const { return count_; }
    // GO: nothing.
    void go() {}
    // OK: takes the text when it is an unsigned number in 0..16896 and closes; otherwise tells
    // the user why and stays open with the focus on the edit. True when the window closes.
    bool ok();
    bool focusOnCount() const { return focusOnCount_; }

  private:
    UserInteraction& ui_;
    std::string applicationTitle_;
    std::string countText_ = "0";
    std::uint32_t count_ = 0;
    bool focusOnCount_ = false;
};

// "Error Log Erase" (template 117): the hidden text "Finished" (1161), progress bar 1160 at
// its initial state, the buttons Erase (1024), OK (1) and Cancel (2), which both close.
class CelogErase {
  public:
    static constexpr int kProgressMinimum = 0;
    static constexpr int kProgressMaximum = 100;

    // Erase: nothing.
    void erase() {}
    bool finishedVisible() const { return false; }
    int progress() const { return kProgressMinimum; }
};

}  // namespace qv
