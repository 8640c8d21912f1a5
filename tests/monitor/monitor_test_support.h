#pragma once
// Frames built byte by byte from the message layouts, and a private temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/can_frame.h"

namespace qv::test {

inline void putFloat(CanFrame::Data& d, std::size_t at, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    for (std::size_t i = 0; i < 4; ++i) d[at + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// Two little-endian floats: bytes 0-3 and 4-7.
inline CanFrame::Data floats(float low, float high) {
    CanFrame::Data d{};
    putFloat(d, 0, low);
    putFloat(d, 4, high);
    return d;
}

inline CanFrame::Data bytes(std::initializer_list<std::uint8_t> list) {
    CanFrame::Data d{};
    std::size_t i = 0;
    for (std::uint8_t b : list) d[i++] = b;
    return d;
}

// An identification message: four product bytes, then the serial little-endian.
inline CanFrame::Data identification(const char* ascii, std::uint32_t serial) {
    CanFrame::Data d{};
    std::memcpy(d.data(), ascii, 4);
    for (std::size_t i = 0; i < 4; ++i) d[4 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
    return d;
}
inline CanFrame::Data identification(std::uint32_t typeCode, std::uint32_t serial) {
    CanFrame::Data d{};
    for (std::size_t i = 0; i < 4; ++i) {
        d[i] = static_cast<std::uint8_t>(typeCode >> (8 * i));
        d[4 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
    }
    return d;
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/qv_monitor_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) throw std::runtime_error("mkdtemp");
        path_ = made;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

inline std::size_t columns(const std::string& line) {
    std::size_t n = 1;
    for (char c : line) n += c == ',';
    return n;
}

}  // namespace qv::test
