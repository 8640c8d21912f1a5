#include "link/platform/regular_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <cstring>
#include <fstream>

#include "link/platform/settings_store.h"
#include "support/fifo.h"

namespace qv {
namespace {

// Everything that is not a regular file is refused at once, for reading and for writing, also
// behind a symbolic link; the pipe stays a pipe.
TEST(RegularFile, PipesDevicesAndFoldersAreRefusedWithoutWaiting) {
    test::Fifo fifo;
    const std::string link = fifo.folder() + "/link.cfg";
    std::filesystem::create_symlink(fifo.path(), link);
    for (const std::string& path : {fifo.path(), link, std::string("/dev/null"), fifo.folder()}) {
        for (int flags : {O_RDONLY, O_WRONLY | O_APPEND | O_CREAT, O_RDWR, O_WRONLY | O_TRUNC}) {
            int error = 0;
            ASSERT_TRUE(fifo.returnsAtOnce([&] {
                EXPECT_FALSE(openRegularFile(path, flags, error).valid()) << path << " " << flags;
            })) << path
                << " " << flags;
            EXPECT_EQ(error, kNotRegularFile) << path << " " << flags;
        }
        int error = 0;
        EXPECT_FALSE(regularOrMissing(path, error)) << path;
        ASSERT_TRUE(fifo.returnsAtOnce([&] {
            EXPECT_FALSE(readRegularFile(path, 100, error).has_value()) << path;
        })) << path;
        EXPECT_EQ(error, kNotRegularFile);
    }
    EXPECT_TRUE(fifo.stillAPipe());
    EXPECT_EQ(fileErrorDescription(kNotRegularFile),
              "not a regular file (a named pipe, a device, a socket or a folder)");
    // The settings read as an empty store.
    ASSERT_TRUE(fifo.returnsAtOnce([&] { EXPECT_FALSE(SettingsStore(fifo.path()).hasKey("a")); }));
}

TEST(RegularFile, RegularFilesOpenBlockingAndReadUpToTheLimit) {
    test::Fifo scratch;  // only for its folder
    const std::string path = scratch.folder() + "/a.txt";
    int error = 0;
    EXPECT_TRUE(regularOrMissing(path, error));
    EXPECT_FALSE(readRegularFile(path, 10, error).has_value());
    EXPECT_EQ(error, ENOENT);
    {
        const net::Fd fd = openRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, error);
        ASSERT_TRUE(fd.valid()) << error;
        EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
        EXPECT_TRUE(writeAll(fd.get(), "0123456789"));
    }
    bool more = true;
    EXPECT_EQ(readRegularFile(path, 10, error, &more), "0123456789");
    EXPECT_FALSE(more);
    EXPECT_EQ(readRegularFile(path, 4, error, &more), "0123");
    EXPECT_TRUE(more);
    EXPECT_EQ(readRegularFile(path, 0, error, &more), "");
    EXPECT_TRUE(more);
    EXPECT_EQ(fileErrorDescription(ENOENT), std::strerror(ENOENT));
}

}  // namespace
}  // namespace qv
