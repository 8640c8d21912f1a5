#include "config/pages/motor_selector.h"

#include <cstdio>

#include "config/text_encoding.h"

namespace qv {

CMotorSelector::CMotorSelector(const CConfigDataBank& store, int* result) : result_(result) {
    for (std::size_t i = 0; i < kMotorCount; ++i) {
        char index[8];
        std::snprintf(index, sizeof index, "%-3d", static_cast<int>(i));
        lines_.push_back(index + windows1252ToUtf8(store.motorDescription(i)));
    }
}

void CMotorSelector::select(std::optional<std::size_t> line) {
    selected_ = line && *line < lines_.size() ? line : std::nullopt;
}

void CMotorSelector::ok() {
    if (result_) *result_ = selected_ ? static_cast<int>(*selected_) : -1;
}

void CMotorSelector::cancel() {
    if (result_) *result_ = -1;
}

}  // namespace qv
