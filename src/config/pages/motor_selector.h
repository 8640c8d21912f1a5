#pragma once
// CMotorSelector ("Motor Selector"): the small modal dialog in which a commissioning tool lets
// the user pick the motor record to write to. Ten lines, one per record; OK gives the selected
// line (-1 when none), Cancel gives -1. A caller that receives -1 writes nothing.
#include <optional>
#include <string>
#include <vector>

#include "config/config_data_bank.h"

namespace qv {

class CMotorSelector {
  public:
    static constexpr const char* kCaption = "Motor Selector";
    static constexpr const char* kPrompt = "Save to motor:";
    static constexpr int kListId = 1131;

    // `result` is the caller's integer that receives the choice.
    CMotorSelector(const CConfigDataBank& store, int* result);

    // "%-03d" of the index followed directly by the record's description.
    const std::vector<std::string>& lines() const { return lines_; }
    // The list's selection changed (nothing: no line selected).
    void select(std::optional<std::size_t> line);
    void ok();
    void cancel();

  private:
    std::vector<std::string> lines_;
    std::optional<std::size_t> selected_;
    int* result_;
};

}  // namespace qv
