#pragma once
// CConfigCal, the "Calibration" page: the whole private structure as the calibration report in
// one multi-line edit control (8-point "Courier New"). Fill builds the report; store reads the
// text back with the report's single scan. A value the user did not touch keeps its exact
// stored bits: the report prints some values rounded ("%14.1f", "%14.3e"), and reading them
// back must not round the factory calibration.
#include <cstdint>
#include <string>

#include "config/config_data_bank.h"

namespace qv {

class CConfigCal {
  public:
    static constexpr int kEditId = 1151;

    explicit CConfigCal(CConfigDataBank& store) : store_(store) {}

    // False, with nothing changed, while a transfer runs.
    bool fillPage(std::int32_t deviceType);
    bool storePage();
    // The user edited the text: marks the private structure modified.
    bool editText(std::string text);
    const std::string& text() const { return text_; }

  private:
    CConfigDataBank& store_;
    std::string text_;
    std::string filledText_;
};

}  // namespace qv
