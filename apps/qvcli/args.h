#pragma once
// Small option parser shared by the qvcli commands: "--name value" options, "--flag" switches
// and positional arguments. Unknown options and bad numbers are usage errors (exit code 2).
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Args {
  public:
    // `valued`: options that take a value; `switches`: options that do not.
    Args(const std::vector<std::string>& argv, const std::set<std::string>& valued,
         const std::set<std::string>& switches);

    bool has(const std::string& name) const;
    std::optional<std::string> value(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }

    // Numbers accept decimal or 0x hexadecimal; out-of-range values are usage errors.
    std::uint64_t number(const std::string& name, std::uint64_t fallback, std::uint64_t max) const;
    double real(const std::string& name, double fallback) const;

  private:
    std::map<std::string, std::string> values_;
    std::set<std::string> switches_;
    std::vector<std::string> positional_;
};

// Parses decimal or 0x hexadecimal; nothing on garbage or overflow.
std::optional<std::uint64_t> parseNumber(const std::string& text);

}  // namespace qv::cli
