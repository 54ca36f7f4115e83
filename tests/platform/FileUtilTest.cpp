#include "platform/FileUtil.h"
#include "platform/ProcessUtil.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(ReadRegularFile, ReadsRegularFilesWithinTheBoundAndRefusesTheRest)
{
    TTempDir dir;
    WriteTextFile(dir.File("empty"), "");
    WriteTextFile(dir.File("ten"), "0123456789");
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.File("zero-link").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("ten").c_str(), dir.File("ten-link").c_str()), 0);

    struct Case {
        std::string path;
        std::size_t maxBytes;
        bool ok;
        std::string contents;
        int error = 0; // errno after a failure: the system's reason, 0 for a refusal
    } cases[] = {
        {dir.File("empty"), 0, true, ""},
        {dir.File("ten"), 10, true, "0123456789"},
        {dir.File("ten"), 9, false, "untouched"},
        {dir.File("ten-link"), 10, true, "0123456789"},
        {dir.File("missing"), 10, false, "untouched", ENOENT},
        {dir.Path(), 10, false, "untouched"},
        {dir.File("fifo"), 10, false, "untouched"}, // no writer: must not block
        {"/dev/zero", 10, false, "untouched"},
        {dir.File("zero-link"), 10, false, "untouched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " max " + std::to_string(c.maxBytes));
        std::string contents = "untouched";
        const bool ok = ReadRegularFile(c.path, contents, c.maxBytes);
        const int error = errno;
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(contents, c.contents);
        if (!ok) {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(ReadRegularFile, ReadsProcFilesToTheirEndThoughTheyReportNoSize)
{
    std::string status;
    ASSERT_TRUE(ReadRegularFile("/proc/self/status", status, 1 << 20));
    EXPECT_EQ(status.rfind("Name:", 0), 0u);
    EXPECT_NE(status.find("\nPid:"), std::string::npos);
    EXPECT_FALSE(ReadRegularFile("/proc/self/status", status, 16));
}

TEST(ProcessHelpers, MainThreadAndTempDirectory)
{
    EXPECT_TRUE(InMainThread());
    bool onWorker = true;
    std::thread worker([&] { onWorker = InMainThread(); });
    worker.join();
    EXPECT_FALSE(onWorker);

    ASSERT_FALSE(TempDirectory().empty());
    EXPECT_EQ(TempDirectory().back(), '/');
    EXPECT_EQ(MinOf(-3, 2), -3);
}

} // namespace
