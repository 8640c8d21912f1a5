#pragma once
// Recorded induction-motor acquisitions as text files, one sample a line:
//
//   frequency sweep:  voltage_mV,current_A        (one pair a line, in sweep order)
//   step response:    # S=<sampling interval in 100 us units>   (the first line)
//                     current_A                   (one a line, the first the zero reference)
//
// Other lines starting with '#' are comments; blank lines are skipped; line ends may be "\r\n".
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/im_models.h"

namespace qv {

inline constexpr std::size_t kImSampleFileMaxBytes = 16u << 20;

struct ImSampleFile {
    std::vector<double> amplitudeV;  // frequency sweep only
    std::vector<double> currentA;
    int samplingInterval = 0;  // step response only
};

// A file that cannot be used; line() is 0 when the fault is not on one line.
class ImSampleFileError : public std::runtime_error {
  public:
    ImSampleFileError(int line, const std::string& message)
        : std::runtime_error(message), line_(line) {}
    int line() const { return line_; }

  private:
    int line_;
};

// Reads the samples of `text` for `model`; at least two fitted points must remain (two pairs, or
// the zero reference and two samples). Throws ImSampleFileError.
ImSampleFile parseImSampleFile(std::string_view text, ImModel model);

// The file of `samples` for `model`, "\n" line ends, each number in the shortest form that reads
// back as the same double (so a fit of the file repeats the fit of the samples bit for bit): a
// comment naming the columns, then the pairs (frequency sweep), or the "# S=" line, the comment
// and the samples (step response). A value that is not finite is written as "nan", "inf" or
// "-inf", which the reader refuses with the line named. Throws std::invalid_argument for a model
// other than the two, or a sweep whose lists differ in length.
std::string formatImSampleFile(const ImSampleFile& samples, ImModel model);

}  // namespace qv
