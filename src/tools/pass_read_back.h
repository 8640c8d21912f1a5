#pragma once
// The commissioning pass's verification: once the controller is back from the reset that ended
// the upload, its configuration is downloaded again and the motor structure just written is
// compared byte for byte with what was sent.
#include <atomic>
#include <string>
#include <vector>

#include "config/config_changes.h"
#include "config/config_transfer.h"

namespace qv {

struct ReadBackResult {
    bool readBack = false;  // the whole configuration was downloaded again
    bool matches = false;   // the motor structure read back is the one written
    // Fields that differ, as sent (a) and as read back (b), in the names of qvcli diff.
    std::vector<FieldDifference> differences;
    std::string problem;  // why it could not be read back
    std::string log;      // the attempts, one line each
};

// Downloads into `context.store` until the controller answers (it is silent for a while after
// its reset), for at most `waitMs`, then compares its ten motor records with those of
// `written`. The download's boxes are kept out of the user's way (the attempts are expected to
// fail while the controller restarts); the last failure is the problem. `cancelled` ends the
// waiting.
ReadBackResult readBackAndVerify(TransferContext& context, const CConfigDataBank& written,
                                 double waitMs, const std::atomic<bool>* cancelled);

}  // namespace qv
