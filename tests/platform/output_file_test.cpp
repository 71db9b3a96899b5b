#include "platform/output_file.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tarvelle
