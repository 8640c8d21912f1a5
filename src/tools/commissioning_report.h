#pragma once
// The report of a commissioning pass: one HTML page that stands on its own apart from the
// charts beside it (PNG files in the same folder), readable in any browser and printable.
#include <string>
#include <string_view>

#include "tools/commissioning_record.h"

namespace qv {

// The page for `record` as it stands (a pass still running or stopped short is marked
// incomplete).
std::string reportHtml(const PassRecord& record);

// Text made safe for HTML (& < > " ').
std::string htmlEscape(std::string_view text);

}  // namespace qv
