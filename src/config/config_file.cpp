#include "config/config_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include "config/file_errors.h"
#include "config/safe_write.h"
#include "link/platform/regular_file.h"

namespace qv {

namespace {

MessageBoxRequest errorBox(std::string text, std::string caption) {
    MessageBoxRequest r;
    r.text = std::move(text);
    r.caption = std::move(caption);
    r.icon = MessageIcon::Error;
    r.buttons = MessageButtons::Ok;
    r.defaultAnswer = MessageAnswer::Ok;
    return r;
}

void putU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void putBytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Reads the file's bytes in order; running out of bytes is the "end of file" failure.
class Cursor {
  public:
    explicit Cursor(std::span<const std::uint8_t> data) : data_(data) {}

    std::span<const std::uint8_t> take(std::size_t n) {
        if (data_.size() - pos_ < n) throw FileErrorCause::EndOfFile;
        const auto part = data_.subspan(pos_, n);
        pos_ += n;
        return part;
    }
    std::uint16_t u16() {
        const auto b = take(2);
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    bool atEnd() const { return pos_ == data_.size(); }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

}  // namespace

MessageBoxRequest filePassErrMessage(filePassErr error, std::uint16_t version) {
    switch (error) {
        case filePassErr::BadHeader:
            return errorBox("Not Brenlow config file", "Incorrect Format");
        case filePassErr::LaterVersion: {
            char text[192];
            std::snprintf(text, sizeof text,
                          "Later version of config file.\r\nExpected v%0.2f or older, read "
                          "v%0.2f.\r\nPlease update your software to the latest version.",
                          kConfigVersion / 100.0, version / 100.0);
            return errorBox(text, "Version Error");
        }
        case filePassErr::BadStructureLength:
            return errorBox("Invalid structure length", "Bad File Format");
        case filePassErr::ChecksumMismatch:
            return errorBox("Config check sum does not match", "Bad File Format");
        case filePassErr::IncompleteNewerDownload:
            return errorBox(
                "Incomplete newer config download detected.\r\nCannot load in older config "
                "segments until a complete download of the newer version is completed",
                "Config Version Error");
    }
    return errorBox("Invalid structure length", "Bad File Format");
}

MessageBoxRequest upgradeQuestion(std::uint16_t fileVersion) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "The loaded config is about to be upgraded.\r\n\r\nFrom: %0.2f.\r\n\r\nTo: "
                  "%0.2f.\r\n\r\nProceed?",
                  fileVersion / 100.0, kConfigVersion / 100.0);
    MessageBoxRequest r;
    r.text = text;
    r.caption = "Load verification";
    r.icon = MessageIcon::Information;
    r.buttons = MessageButtons::YesNo;
    r.defaultAnswer = MessageAnswer::No;
    return r;
}

std::vector<std::uint8_t> buildConfigFile(CConfigDataBank& store) {
    store.refreshChecksums(false);
    std::vector<std::uint8_t> out;
    out.reserve(kConfigFileSize);
    putBytes(out,
             {reinterpret_cast<const std::uint8_t*>(kConfigHeader.data()), kConfigHeader.size()});
    putU16(out, kConfigVersion);
    putU16(out, kPublicSize);
    putU16(out, kPrivateSize);
    putU16(out, kMotorSize);
    putBytes(out, store.recordBytes(StructureKind::Public));
    putBytes(out, store.recordBytes(StructureKind::Private));
    for (std::size_t i = 0; i < kMotorCount; ++i)
        putBytes(out, store.recordBytes(StructureKind::Motor, i));
    putU16(out, kReadOnlySize);
    putBytes(out, {reinterpret_cast<const std::uint8_t*>(&store.readOnly), kReadOnlySize});
    return out;
}

bool saveConfigFile(CConfigDataBank& store, const std::string& path, UserInteraction& ui) {
    const std::vector<std::uint8_t> bytes = buildConfigFile(store);
    const FileErrorCause cause = writeFileSafely(path, bytes);
    if (cause == FileErrorCause::None) {
        store.markSaved();
        return true;
    }
    ui.messageBox(fileErrorMessage(cause, true));
    return false;
}

bool loadConfigFile(CConfigDataBank& store, const std::string& path, UserInteraction& ui,
                    bool loadPrivate, bool loadTrailer, const ConfigFileHooks& hooks,
                    ConfigFileInfo* info) {
    // Bytes past the largest file the format can describe are never looked at. A named pipe
    // or a device is refused ("The file could not be accessed"), never waited on.
    int error = 0;
    const auto text = readRegularFile(path, kMaxConfigFileBytes, error);
    if (!text) {
        const FileErrorCause cause = fileErrorCause(error);
        ui.messageBox(fileErrorMessage(
            cause == FileErrorCause::None ? FileErrorCause::Unspecified : cause, false));
        return false;
    }
    const std::vector<std::uint8_t> bytes(text->begin(), text->end());
    if (!loadConfigData(store, bytes, ui, loadPrivate, loadTrailer, hooks, info)) return false;
    store.origin = ConfigOrigin{};
    store.origin.kind = ConfigOrigin::Kind::File;
    store.origin.fileName = std::filesystem::path(path).filename().string();
    return true;
}

bool loadConfigData(CConfigDataBank& store, std::span<const std::uint8_t> data, UserInteraction& ui,
                    bool loadPrivate, bool loadTrailer, const ConfigFileHooks& hooks,
                    ConfigFileInfo* info) {
    ConfigFileInfo local;
    ConfigFileInfo& header = info ? *info : local;
    header = ConfigFileInfo{};
    Cursor in(data);
    try {
        // A file that differs from the header where it has bytes is not a configuration file;
        // one that stops inside the header ran out of bytes.
        const std::size_t available = std::min(data.size(), kConfigHeader.size());
        if (available > 0 && std::memcmp(data.data(), kConfigHeader.data(), available) != 0)
            throw filePassErr::BadHeader;
        in.take(kConfigHeader.size());

        const std::uint16_t version = header.version = in.u16();
        if (isNewerVersion(version)) throw filePassErr::LaterVersion;
        if (isOlderVersion(version) &&
            ui.messageBox(upgradeQuestion(version)) != MessageAnswer::Yes)
            return false;

        // A newer download raised the held version above this file's: older records over it
        // would mix layouts unless every structure the file brings in came complete from it.
        if (store.heldVersion > version && isNewerVersion(store.heldVersion)) {
            const bool complete = store.isValid(StructureKind::Public) &&
                                  store.isValid(StructureKind::Motor) &&
                                  (store.isValid(StructureKind::Private) || !loadPrivate);
            if (!complete) throw filePassErr::IncompleteNewerDownload;
        }

        const std::uint16_t p = header.publicSize = in.u16();
        const std::uint16_t q = header.privateSize = in.u16();
        const std::uint16_t m = header.motorSize = in.u16();
        // Every record holds at least its checksum and at most what the structure holds.
        if (p > kPublicSize || q > kPrivateSize || m > kMotorSize || p < 2 || q < 2 || m < 2)
            throw filePassErr::BadStructureLength;

        const auto records = in.take(std::size_t{p} + q + kMotorCount * m);
        const auto publicPart = records.subspan(0, p);
        const auto privatePart = records.subspan(p, q);
        const auto motorPart = records.subspan(std::size_t{p} + q);
        bool intact = checksumMatches(publicPart) && checksumMatches(privatePart);
        for (std::size_t i = 0; i < kMotorCount && intact; ++i)
            intact = checksumMatches(motorPart.subspan(i * m, m));
        if (!intact) throw filePassErr::ChecksumMismatch;

        // The trailer is read before anything is taken over, so that a file ending inside it
        // leaves the store as it was.
        ReadOnlyConfigInfo readOnly{};
        if (loadTrailer && !in.atEnd()) {
            const std::uint16_t t = in.u16();
            header.trailerLength = t;
            // The block holds 8 bytes; a longer trailer's surplus is skipped.
            const auto trailer = in.take(t);
            std::memcpy(&readOnly, trailer.data(), std::min<std::size_t>(t, kReadOnlySize));
        }

        // Everything is read and checked: only now does the store change. The tail of a
        // shorter record keeps its contents.
        store.noteVersion(version);
        std::memcpy(store.recordBytes(StructureKind::Public).data(), publicPart.data(), p);
        store.setValid(StructureKind::Public, true);
        store.markModified(StructureKind::Public);
        if (hooks.clearFallbackDriverControlsBase) hooks.clearFallbackDriverControlsBase();

        if (loadPrivate) {
            std::memcpy(store.recordBytes(StructureKind::Private).data(), privatePart.data(), q);
            store.setValid(StructureKind::Private, true);
            store.markModified(StructureKind::Private);
        }

        for (std::size_t i = 0; i < kMotorCount; ++i)
            std::memcpy(store.recordBytes(StructureKind::Motor, i).data(), motorPart.data() + i * m,
                        m);
        store.setValid(StructureKind::Motor, true);
        store.markModified(StructureKind::Motor);
        // What the file holds is not lost; the private record kept is as it was.
        store.markSaved(StructureKind::Public);
        if (loadPrivate) store.markSaved(StructureKind::Private);
        store.markSaved(StructureKind::Motor);

        if (loadTrailer) {
            store.readOnly = readOnly;
            const std::string description = store.motorDescription(0);
            if (hooks.setSelectedDeviceType) {
                if (description.starts_with("ECHG_GT"))
                    hooks.setSelectedDeviceType(kDeviceTypeGridTieCharger);
                else if (description.starts_with("ECHG_ISO"))
                    hooks.setSelectedDeviceType(kDeviceTypeIsolatedCharger);
            }
        }
        return true;
    } catch (filePassErr error) {
        ui.messageBox(filePassErrMessage(error, header.version));
    } catch (FileErrorCause cause) {
        ui.messageBox(fileErrorMessage(cause, false));
    }
    return false;
}

}  // namespace qv
