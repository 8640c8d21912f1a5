// qvcli fit-im: fits an induction-motor model to recorded samples, as the induction-motor
// extraction does after an acquisition.
#include <charconv>
#include <cstdio>
#include <string>

#include "args.h"
#include "commands.h"

#include "link/platform/regular_file.h"
#include "tools/im_inputs.h"
#include "tools/im_log.h"
#include "tools/im_sample_file.h"

namespace qv::cli {

namespace {

constexpr const char* kName = "qvcli fit-im";

std::string g17(double v) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 17);
    return std::string(buffer, r.ptr);
}

// The file's bytes, refusing one larger than a sample file can be (the parser names that) and
// anything that is not a regular file.
bool readSampleFile(const std::string& path, std::string& text) {
    int error = 0;
    auto bytes = readRegularFile(path, kImSampleFileMaxBytes + 1, error);
    if (!bytes) {
        std::fprintf(stderr, "%s: %s: cannot open: %s\n", kName, path.c_str(),
                     fileErrorDescription(error).c_str());
        return false;
    }
    text = std::move(*bytes);
    return true;
}

std::string unixLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

}  // namespace

int runFitIm(const CommandArgs& args) {
    const Args a(args, {"--mode", "--iterations"}, {"--log"});
    const auto modeText = a.value("--mode");
    if (!modeText) throw UsageError("--mode 0 or 1 is needed");
    if (a.positional().size() != 1) throw UsageError("expected one FILE");
    const std::string& path = a.positional()[0];
    // -1: the extraction's own number of iterations.
    const long long iterations =
        a.has("--iterations") ? static_cast<long long>(a.number("--iterations", 0, 1'000'000'000))
                              : -1;

    ImModel model;
    if (*modeText == "0") {
        model = ImModel::FrequencyResponse;
    } else if (*modeText == "1") {
        model = ImModel::StepResponse;
    } else {
        std::fprintf(stderr,
                     "%s: --mode must be 0 (frequency sweep) or 1 (step response), not '%s'\n",
                     kName, modeText->c_str());
        return kExitFailure;
    }

    std::string text;
    if (!readSampleFile(path, text)) return kExitFailure;
    ImSampleFile samples;
    try {
        samples = parseImSampleFile(text, model);
    } catch (const ImSampleFileError& e) {
        if (e.line() > 0)
            std::fprintf(stderr, "%s: %s:%d: %s\n", kName, path.c_str(), e.line(), e.what());
        else
            std::fprintf(stderr, "%s: %s: %s\n", kName, path.c_str(), e.what());
        return kExitFailure;
    }

    ImFitInput input = model == ImModel::FrequencyResponse
                           ? sweepFitInput(samples.amplitudeV, samples.currentA)
                           : stepFitInput(samples.currentA, samples.samplingInterval);
    if (iterations >= 0) input.iterations = static_cast<int>(iterations);
    const ImFitResult result = runFit(input);
    if (!result.usable) {
        std::fprintf(stderr,
                     "%s: %s: the fit gave no usable result (a parameter or model value is not "
                     "finite)\n",
                     kName, path.c_str());
        return kExitFailure;
    }

    std::string out;
    if (a.has("--log")) {
        out =
            unixLineEnds(model == ImModel::FrequencyResponse
                             ? sweepLogText(samples.amplitudeV, samples.currentA, result.parameters)
                             : stepLogText(samples.currentA, result.parameters));
    } else {
        for (std::size_t j = 0; j < result.parameters.size(); ++j) {
            if (j > 0) out += ' ';
            out += g17(result.parameters[j]);
        }
        out += '\n';
        for (double v : result.model) out += g17(v) + '\n';
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "%s: could not write the result\n", kName);
        return kExitFailure;
    }
    return kExitOk;
}

// What QV_CLI_COMMAND expands to, spelt out: the macro takes the name as an identifier and
// "fit-im" is not one.
static const CommandRegistrar qvCliCommand_fit_im{
    "fit-im", 60, "fit-im --mode 0|1 FILE [--iterations N] [--log]", runFitIm};

}  // namespace qv::cli
