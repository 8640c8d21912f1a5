#include "tools/write_back.h"

namespace qv {

int writeBackToMotor(CConfigDataBank& store, const MotorChooser& choose, const MotorWriter& write,
                     const UploadStarter& upload, int actionCode) {
    const int index = choose ? choose() : -1;
    if (index < 0 || index >= static_cast<int>(kMotorCount) || !write) return -1;
    // Written into a copy first, so that a refusal leaves the record as it was.
    MotorConfig record = store.motor[static_cast<std::size_t>(index)];
    if (!write(record)) return -1;
    store.motor[static_cast<std::size_t>(index)] = record;
    store.markModified(StructureKind::Motor);
    if (upload) upload(actionCode);
    return index;
}

}  // namespace qv
