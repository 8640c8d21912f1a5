#include "config/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace qv {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// One conversion descriptor for the duration of a call.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of `in` as it can into `out`; returns false on an unconvertible or
    // invalid sequence (in and inLeft then point at it).
    bool convert(char*& in, std::size_t& inLeft, std::string& out) {
        while (inLeft > 0) {
            char buffer[256];
            char* to = buffer;
            std::size_t toLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &in, &inLeft, &to, &toLeft);
            out.append(buffer, static_cast<std::size_t>(to - buffer));
            if (rc != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            return false;
        }
        return true;
    }

  private:
    iconv_t cd_;
};

// Bytes of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

}  // namespace

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    Converter c("UTF-8", "WINDOWS-1252");
    std::vector<char> copy(bytes.begin(), bytes.end());
    char* in = copy.data();
    std::size_t left = copy.size();
    while (left > 0) {
        if (!c.ok() || !c.convert(in, left, out)) {
            // A byte with no character (or no converter at all): shown as such.
            out += kReplacement;
            ++in;
            --left;
        }
    }
    return out;
}

Windows1252Text utf8ToWindows1252(std::string_view utf8) {
    Windows1252Text result;
    Converter c("WINDOWS-1252", "UTF-8");
    std::vector<char> copy(utf8.begin(), utf8.end());
    char* in = copy.data();
    std::size_t left = copy.size();
    if (c.ok() && c.convert(in, left, result.bytes)) return result;
    const std::size_t at = static_cast<std::size_t>(in - copy.data());
    const std::size_t length =
        std::min(sequenceLength(static_cast<unsigned char>(utf8[at])), utf8.size() - at);
    result.refused = std::string(utf8.substr(at, length));
    result.bytes.clear();
    return result;
}

std::size_t utf8Length(std::string_view utf8) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < utf8.size(); ++count)
        at += std::min(sequenceLength(static_cast<unsigned char>(utf8[at])), utf8.size() - at);
    return count;
}

std::string notWindows1252Text(const std::string& character) {
    return "The character \"" + character +
           "\" cannot be stored: the controller keeps its texts in the Windows-1252 character "
           "set, which does not have it.";
}

}  // namespace qv
