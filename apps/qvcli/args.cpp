#include "args.h"

#include "common/parse_number.h"

#include <cerrno>
#include <cstdlib>

namespace qv::cli {

Args::Args(const std::vector<std::string>& argv, const std::set<std::string>& valued,
           const std::set<std::string>& switches) {
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a.rfind("--", 0) == 0) {
            if (switches.count(a)) {
                switches_.insert(a);
            } else if (valued.count(a)) {
                if (i + 1 >= argv.size()) throw UsageError("option " + a + " needs a value");
                values_[a] = argv[++i];
            } else {
                throw UsageError("unknown option " + a);
            }
        } else {
            positional_.push_back(a);
        }
    }
}

bool Args::has(const std::string& name) const {
    return switches_.count(name) > 0 || values_.count(name) > 0;
}

std::optional<std::string> Args::value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::uint64_t> parseNumber(const std::string& text) {
    return parseUnsignedNumber(text);
}

std::uint64_t Args::number(const std::string& name, std::uint64_t fallback,
                           std::uint64_t max) const {
    const auto text = value(name);
    if (!text) return fallback;
    const auto v = parseNumber(*text);
    if (!v || *v > max) throw UsageError("invalid value for " + name + ": " + *text);
    return *v;
}

double Args::real(const std::string& name, double fallback) const {
    const auto text = value(name);
    if (!text) return fallback;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (errno != 0 || end == text->c_str() || *end != '\0' || v < 0)
        throw UsageError("invalid value for " + name + ": " + *text);
    return v;
}

}  // namespace qv::cli
