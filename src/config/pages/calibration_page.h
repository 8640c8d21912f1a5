#pragma once
// CConfigCal, the "Calibration" page: the whole private structure as the calibration report in
// one multi-line edit control (8-point "Courier New"). Fill builds the report; store reads the
// text back with the report's single scan.
//
// Store writes what the text shows: a number whose text is what the store's value prints as in
// the report keeps the store's exact bits (the report prints some values rounded, "%14.1f" and
// "%14.3e", and reading them back must not round the factory calibration); a number whose text
// is anything else is stored as typed, even when it reads as the same number ("1.80" over a
// shown "1.8"). The decision is made against the store at the time of the store, so a value
// changed, stored and changed back is stored again.
//
// A line that cannot be read whole ("6o0.0" reads as 6) is never stored silently: store asks
// first, naming each such line, and stores nothing from the page unless the user confirms.
#include <cstdint>
#include <string>
#include <vector>

#include "common/user_interaction.h"
#include "config/calibration_text.h"
#include "config/config_data_bank.h"
#include "config/pages/page_fields.h"

namespace qv {

class CConfigCal {
  public:
    static constexpr int kEditId = 1151;

    CConfigCal(CConfigDataBank& store, UserInteraction& ui) : store_(store), ui_(ui) {}

    // False, with nothing changed, while a transfer runs.
    bool fillPage(std::int32_t deviceType);
    // keepFocus (focusId kEditId) when nothing was stored: a transfer runs, or the text holds
    // lines that cannot be read whole and the user did not confirm them.
    FieldCheck storePage();
    // The user edited the text: marks the private structure modified.
    bool editText(std::string text);
    const std::string& text() const { return text_; }
    // A store would change the private record.
    bool differsFromStore() const;

  private:
    std::string report() const;

    CConfigDataBank& store_;
    UserInteraction& ui_;
    std::string text_;
    bool isolatedCharger_ = false;
    // A text whose unread lines the user confirmed; not asked about again while it stays.
    std::string confirmedText_;
};

// The question asked before storing a text with lines that cannot be read whole.
MessageBoxRequest unreadLinesQuestion(const std::vector<UnreadLine>& lines);

}  // namespace qv
