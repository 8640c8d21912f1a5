// Fuzzes the reader of the induction-motor sample files ("Save Data..." of the Induction Motor
// Extraction window, read again by qvcli fit-im). The first byte chooses the model (even: the
// frequency sweep, odd: the step response); the rest is the file. Oracle: a file the reader
// accepts saves back to a file that reads as the same numbers, bit for bit, and that saves
// again to the same text; the fit's inputs and a log are built from it as fit-im builds them.
// Seeds: files the tool saved after runs against the simulator.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tools/im_inputs.h"
#include "tools/im_log.h"
#include "tools/im_sample_file.h"

namespace {

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const qv::ImModel model =
        data[0] % 2 == 0 ? qv::ImModel::FrequencyResponse : qv::ImModel::StepResponse;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    qv::ImSampleFile file;
    try {
        file = qv::parseImSampleFile(text, model);
    } catch (const qv::ImSampleFileError& e) {
        if (e.line() < 0 || std::strlen(e.what()) == 0) std::abort();
        return 0;
    }
    const std::string saved = qv::formatImSampleFile(file, model);
    const qv::ImSampleFile back = qv::parseImSampleFile(saved, model);  // throws: a finding
    if (!sameBits(file.amplitudeV, back.amplitudeV) || !sameBits(file.currentA, back.currentA) ||
        file.samplingInterval != back.samplingInterval)
        std::abort();
    if (qv::formatImSampleFile(back, model) != saved) std::abort();

    // The fit's inputs and the log of their start values, as fit-im builds them (the fit itself
    // is arithmetic on these arrays; its own tests cover it).
    const qv::ImFitInput in = model == qv::ImModel::FrequencyResponse
                                  ? qv::sweepFitInput(file.amplitudeV, file.currentA)
                                  : qv::stepFitInput(file.currentA, file.samplingInterval);
    if (in.y.size() != in.x.size() || in.y.empty()) std::abort();
    const std::string log = model == qv::ImModel::FrequencyResponse
                                ? qv::sweepLogText(file.amplitudeV, file.currentA, in.start)
                                : qv::stepLogText(file.currentA, in.start);
    if (log.empty()) std::abort();
    return 0;
}
