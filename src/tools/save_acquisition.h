#pragma once
// "Save Data..." of the tool windows: asks where the last acquisition goes and writes its CSV,
// telling the user when it cannot.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "common/user_interaction.h"

namespace qv {

inline constexpr const char* kSaveDataCaption = "Save Data";
inline constexpr const char* kAcquisitionFileFilter =
    "Comma-separated value Files (*.csv)|*.csv|All Files (*.*)|*.*||";

// "<stem>_%Y-%m-%d_%H-%M-%S.csv"
std::string acquisitionFileName(const std::string& stem, const std::tm& local);

// Shows the save dialog (suggesting acquisitionFileName in `directory`, "" the current one) and
// writes `csv` to the chosen path, ".csv" added when it has no extension. A failed write leaves
// any file of that name as it was and shows a box naming the file. Returns the path written;
// nothing when the user cancelled or the write failed.
std::optional<std::string> saveAcquisitionData(UserInteraction& ui, std::string_view csv,
                                               const std::string& stem, const std::tm& local,
                                               const std::string& directory = {});

}  // namespace qv
