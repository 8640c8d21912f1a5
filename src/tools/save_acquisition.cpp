#include "tools/save_acquisition.h"

#include <filesystem>

#include "tools/acquisition_csv.h"

namespace qv {

std::string acquisitionFileName(const std::string& stem, const std::tm& local) {
    char stamp[32];
    if (std::strftime(stamp, sizeof stamp, "_%Y-%m-%d_%H-%M-%S", &local) == 0) stamp[0] = '\0';
    return stem + stamp + ".csv";
}

std::optional<std::string> saveAcquisitionData(UserInteraction& ui, std::string_view csv,
                                               const std::string& stem, const std::tm& local,
                                               const std::string& directory) {
    FileDialogRequest request;
    request.save = true;
    request.filter = kAcquisitionFileFilter;
    request.defaultExtension = "csv";
    request.kind = FileKind::Acquisition;
    request.initialPath =
        (directory.empty() ? std::string() : directory + "/") + acquisitionFileName(stem, local);
    const auto chosen = ui.fileDialog(request);
    if (!chosen || chosen->empty()) return std::nullopt;
    std::string path = *chosen;
    if (!std::filesystem::path(path).has_extension()) path += ".csv";
    std::string error;
    if (!writeTextFile(path, csv, &error)) {
        ui.messageBox({"The data could not be saved.\r\n\r\n" + error, kSaveDataCaption,
                       MessageIcon::Error, MessageButtons::Ok, MessageAnswer::Ok});
        return std::nullopt;
    }
    return path;
}

}  // namespace qv
