// Fuzzes the configuration file loader from memory. The first input byte chooses the load
// flags, the answer to the upgrade question and the store's state before the load; the rest
// is the file. Record checksums are repaired after mutation so the fuzzer gets past them.
// A failed load must leave the store as it was; a successful one must save and load back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/config_file.h"

namespace {

class FuzzInteraction : public qv::UserInteraction {
  public:
    explicit FuzzInteraction(bool yes) : yes_(yes) {}
    qv::MessageAnswer messageBox(const qv::MessageBoxRequest& r) override {
        if (r.buttons == qv::MessageButtons::YesNo) {
            ++questions;
            return yes_ ? qv::MessageAnswer::Yes : qv::MessageAnswer::No;
        }
        ++errors;
        return qv::MessageAnswer::Ok;
    }
    std::optional<std::string> fileDialog(const qv::FileDialogRequest&) override { return {}; }
    int questions = 0;
    int errors = 0;

  private:
    bool yes_;
};

std::uint16_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

void repair(std::vector<std::uint8_t>& file, std::size_t at, std::size_t size) {
    if (size < 2 || at + size > file.size()) return;
    const auto sum = qv::computeChecksum({file.data() + at, size});
    file[at] = static_cast<std::uint8_t>(sum & 0xFF);
    file[at + 1] = static_cast<std::uint8_t>(sum >> 8);
}

void repairChecksums(std::vector<std::uint8_t>& file) {
    if (file.size() < 34) return;
    const std::size_t p = u16(file, 28), q = u16(file, 30), m = u16(file, 32);
    repair(file, 34, p);
    repair(file, 34 + p, q);
    for (std::size_t i = 0; i < qv::kMotorCount; ++i) repair(file, 34 + p + q + i * m, m);
}

// Everything a load may change: records, identification block, flags, held version, extras.
std::vector<std::uint8_t> storeState(const qv::CConfigDataBank& s) {
    std::vector<std::uint8_t> state;
    for (auto k :
         {qv::StructureKind::Public, qv::StructureKind::Private, qv::StructureKind::Motor}) {
        for (std::size_t i = 0; i < qv::recordCount(k); ++i) {
            const auto b = s.recordBytes(k, i);
            state.insert(state.end(), b.begin(), b.end());
            const auto e = s.extraBlock(k, i);
            state.insert(state.end(), e.begin(), e.end());
        }
        state.push_back(s.isValid(k));
        state.push_back(s.isModified(k));
        state.push_back(static_cast<std::uint8_t>(s.extraLength(k)));
    }
    const auto* ro = reinterpret_cast<const std::uint8_t*>(&s.readOnly);
    state.insert(state.end(), ro, ro + sizeof s.readOnly);
    state.push_back(static_cast<std::uint8_t>(s.heldVersion));
    state.push_back(static_cast<std::uint8_t>(s.heldVersion >> 8));
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    std::vector<std::uint8_t> file(data + 1, data + size);
    repairChecksums(file);

    qv::CConfigDataBank store;
    if (control & 0x08) store.resetToDefaults();
    static const std::uint16_t kHeld[4] = {0, 199, 200, 201};
    store.heldVersion = kHeld[(control >> 4) & 3];
    store.setValid(qv::StructureKind::Public, control & 0x40);
    store.setValid(qv::StructureKind::Private, control & 0x80);
    store.setValid(qv::StructureKind::Motor, (control & 0xC0) != 0);

    FuzzInteraction ui((control & 0x04) != 0);
    int typeSet = 0;
    qv::ConfigFileHooks hooks;
    hooks.setSelectedDeviceType = [&](std::uint16_t) { ++typeSet; };
    const std::vector<std::uint8_t> before = storeState(store);
    qv::ConfigFileInfo info;
    const bool loaded = qv::loadConfigData(store, file, ui, control & 1, control & 2, hooks, &info);
    // At most one question; a failed load shows exactly one error unless the user said No.
    if (ui.questions > 1 || ui.errors > 1) std::abort();
    if (loaded && ui.errors != 0) std::abort();
    if (!loaded && ui.errors == 0 && !(ui.questions == 1 && !(control & 0x04))) std::abort();
    if (typeSet > 1 || (typeSet && !(control & 2))) std::abort();
    for (std::size_t i = 0; i < qv::kMotorCount; ++i)
        if (store.motorDescription(i).size() > 19) std::abort();
    // A load that is not taken over changes nothing at all.
    if (!loaded) {
        if (storeState(store) != before) std::abort();
        return 0;
    }

    // Whatever was taken over saves to a file that loads back silently and saves identically.
    const std::vector<std::uint8_t> saved = qv::buildConfigFile(store);
    if (saved.size() != qv::kConfigFileSize) std::abort();
    qv::CConfigDataBank again;
    FuzzInteraction quiet(false);
    if (!qv::loadConfigData(again, saved, quiet, true, true) || quiet.questions + quiet.errors != 0)
        std::abort();
    if (qv::buildConfigFile(again) != saved) std::abort();
    return 0;
}
