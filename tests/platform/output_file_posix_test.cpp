// The output file on POSIX: the system's own reasons, a file-size limit, links
// and permissions.
#include "platform/output_file.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

namespace tarvelle {
namespace {

const std::vector<std::uint8_t> newBytes = {'n', 'e', 'w'};

TEST(WriteOutputFile, TheReasonIsTheSystems)
{
    testing::ScratchFolder folder;
    std::filesystem::create_directory(folder.path("take1 6dB clipping.wav"));
    EXPECT_EQ(writeOutputFile(folder.path("take1 6dB clipping.wav"), newBytes).failure, "Is a directory");
    EXPECT_EQ(writeOutputFile(folder.path("nowhere/take1 3dB clipping.txt"), newBytes).failure,
              "No such file or directory");
}

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A write the file system refuses part way (here a file-size limit, as a
// full disk would) leaves the old output whole and no temporary file.
TEST(OutputFile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    testing::ScratchFolder folder;
    const std::string name = folder.path("take1 9dB clipping.wav");
    const std::vector<std::uint8_t> oldBytes(3000, 0x11);
    testing::writeFileBytes(name, oldBytes);

    struct rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const struct rlimit tight = {4096, limit.rlim_max};
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    OutputFile file = OutputFile::begin(name);
    file.append(std::vector<std::uint8_t>(3000, 0x22));
    file.append(std::vector<std::uint8_t>(3000, 0x33));
    const OutputResult result = file.commit();
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.failure, "File too large");
    EXPECT_EQ(testing::readFileBytes(name), oldBytes);
    EXPECT_EQ(folderEntries(folder.path(".")), std::vector<std::string>{"take1 9dB clipping.wav"});
}

// A link at an output name is replaced by the output; what it points at,
// there or not, is left alone.
TEST(OutputFile, ASymbolicLinkIsReplacedNotFollowed)
{
    testing::ScratchFolder folder;
    testing::writeFileBytes(folder.path("notes.txt"), {'k', 'e', 'e', 'p'});
    std::filesystem::create_symlink("notes.txt", folder.path("a 3dB clipping.txt"));
    std::filesystem::create_symlink("gone.txt", folder.path("a 6dB clipping.txt"));
    EXPECT_TRUE(writeOutputFile(folder.path("a 3dB clipping.txt"), newBytes).written);
    EXPECT_TRUE(writeOutputFile(folder.path("a 6dB clipping.txt"), newBytes).written);
    EXPECT_EQ(testing::readFileBytes(folder.path("notes.txt")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(testing::readFileBytes(folder.path("a 3dB clipping.txt")), newBytes);
    EXPECT_FALSE(std::filesystem::is_symlink(folder.path("a 3dB clipping.txt")));
    EXPECT_EQ(folderEntries(folder.path(".")),
              (std::vector<std::string>{"a 3dB clipping.txt", "a 6dB clipping.txt", "notes.txt"}));
}

// Writing in place never replaced a file the user may not write; the rename
// must not either.
TEST(OutputFile, AFileTheUserMayNotWriteIsLeftAlone)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write any file";
    }
    testing::ScratchFolder folder;
    const std::string name = folder.path("take1 3dB clipping.txt");
    testing::writeFileBytes(name, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
    const OutputResult result = writeOutputFile(name, newBytes);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.failure, "Permission denied");
    EXPECT_EQ(testing::readFileBytes(name), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

} // namespace
} // namespace tarvelle
