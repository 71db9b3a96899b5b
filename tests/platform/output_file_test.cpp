#include "platform/output_file.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>

namespace tarvelle {
namespace {

const std::vector<std::uint8_t> newBytes = {'n', 'e', 'w'};

TEST(WriteOutputFile, ALongerExistingFileIsReplacedWhole)
{
    testing::ScratchFolder folder;
    const std::string name = folder.path("take1 3dB clipping.wav");
    testing::writeFileBytes(name, std::vector<std::uint8_t>(1000, 0xEE));
    const OutputResult result = writeOutputFile(name, newBytes);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(testing::readFileBytes(name), newBytes);
}

// Every failure names its file and gives the system's reason, and nothing
// else is touched.
TEST(WriteOutputFile, AFailureSaysWhichFileAndWhy)
{
    testing::ScratchFolder folder;
    const struct {
        const char* name;
        std::string fileName;
        std::function<void()> setUp;
    } cases[] = {
        {"a folder in the way", folder.path("take1 6dB clipping.wav"),
         [&] { std::filesystem::create_directory(folder.path("take1 6dB clipping.wav")); }},
        {"no such folder", folder.path("no such folder/take1 3dB clipping.txt"), [] {}},
    };
    for (const auto& failCase : cases) {
        SCOPED_TRACE(failCase.name);
        failCase.setUp();
        const OutputResult result = writeOutputFile(failCase.fileName, newBytes);
        EXPECT_FALSE(result.written);
        EXPECT_EQ(result.fileName, failCase.fileName);
        EXPECT_FALSE(result.failure.empty());
    }
#ifndef _WIN32
    EXPECT_EQ(writeOutputFile(cases[0].fileName, newBytes).failure, "Is a directory");
    EXPECT_EQ(writeOutputFile(cases[1].fileName, newBytes).failure, "No such file or directory");
#endif

    // A file another program holds is left as it is.
    const std::string heldName = folder.path("take1 12dB clipping.wav");
    testing::writeFileBytes(heldName, {1, 2, 3});
    {
        std::optional<FileHandle> held = openInputFile(heldName);
        ASSERT_TRUE(held.has_value());
        const OutputResult result = writeOutputFile(heldName, newBytes);
        EXPECT_FALSE(result.written);
        EXPECT_FALSE(result.failure.empty());
    }
    EXPECT_EQ(testing::readFileBytes(heldName), (std::vector<std::uint8_t>{1, 2, 3}));
}

// What a stop (a signal, a console control event) does to the temporary file
// at each point of its life: open, closed before its rename, forgotten.
TEST(TemporaryFile, AStopRemovesItUntilItIsForgotten)
{
    const struct {
        const char* name;
        bool closeFirst;
        bool forgetFirst;
        bool removed;
    } cases[] = {
        {"still open", false, false, true},
        {"closed, not yet renamed", true, false, true},
        {"forgotten", true, true, false},
    };
    for (const auto& stopCase : cases) {
        SCOPED_TRACE(stopCase.name);
        testing::ScratchFolder folder;
        const std::string name = folder.path(".tarvelle-1-1.tmp");
        std::optional<FileHandle> file = createTemporaryFile(name);
        ASSERT_TRUE(file.has_value());
        ASSERT_TRUE(writeAll(*file, newBytes.data(), newBytes.size()));
        if (stopCase.closeFirst) {
            file.reset();
        }
        if (stopCase.forgetFirst) {
            forgetTemporaryFile();
        }
        removeTemporaryFileOnStop();
        file.reset();
        forgetTemporaryFile();
        EXPECT_EQ(std::filesystem::exists(name), !stopCase.removed);
    }
}

#ifndef _WIN32
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
#endif

} // namespace
} // namespace tarvelle
