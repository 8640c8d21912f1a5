#pragma once
// Shared by the configuration tests: a scripted user, a private temporary folder, file bytes.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "common/user_interaction.h"

namespace qv::test {

// Records every request. Questions are answered from the script (a test failure when it has
// run out); plain OK boxes take the next scripted answer or OK.
class ScriptedInteraction : public UserInteraction {
  public:
    explicit ScriptedInteraction(std::deque<MessageAnswer> script = {})
        : script_(std::move(script)) {}

    MessageAnswer messageBox(const MessageBoxRequest& request) override {
        requests.push_back(request);
        if (!script_.empty()) {
            const MessageAnswer a = script_.front();
            script_.pop_front();
            return a;
        }
        if (request.buttons != MessageButtons::Ok)
            ADD_FAILURE() << "unexpected question: " << request.text;
        return request.defaultAnswer;
    }
    std::optional<std::string> fileDialog(const FileDialogRequest&) override {
        ADD_FAILURE() << "unexpected file dialog";
        return std::nullopt;
    }

    std::vector<MessageBoxRequest> requests;

  private:
    std::deque<MessageAnswer> script_;
};

// A folder of its own under the system's temporary folder, removed with its contents.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvcfg-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A copy of a record field. The records are packed, so their fields must not be bound to
// references (as EXPECT_EQ does) where they may sit misaligned.
template <typename T>
T val(T field) {
    return field;
}

inline void putU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t v) {
    bytes.at(at) = static_cast<std::uint8_t>(v & 0xFF);
    bytes.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint16_t getU16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

// Runs `body` in a child process that file permissions bind: as "nobody" when the tests run
// as root (root passes every permission check), else as the current user. `dir` is handed to
// that user first; the body should leave it removable. Returns what the body returned, or
// what went wrong with the child.
inline std::string runUnprivileged(const std::filesystem::path& dir,
                                   const std::function<std::string()>& body) {
    const bool root = ::geteuid() == 0;
    uid_t uid = 0;
    gid_t gid = 0;
    if (root) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) return "no user nobody";
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        if (::chown(dir.c_str(), uid, gid) != 0) return "could not hand over the folder";
    }
    int channel[2];
    if (::pipe(channel) != 0) return "no pipe";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return "no child";
    if (child == 0) {
        ::close(channel[0]);
        std::string result;
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            result = "could not drop privileges";
        else if (::geteuid() == 0)
            result = "still privileged";
        else
            try {
                result = body();
            } catch (const std::exception& e) {
                result = std::string("exception: ") + e.what();
            }
        for (std::size_t done = 0; done < result.size();) {
            const ssize_t n = ::write(channel[1], result.data() + done, result.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string result;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + result;
    return result;
}

}  // namespace qv::test
