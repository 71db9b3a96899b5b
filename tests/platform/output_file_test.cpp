#include "platform/output_file.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

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

// What a stop (a signal, a console control event) does to temporary files
// registered at the same time, each at another point of its life.
TEST(TemporaryFile, AStopRemovesEachUntilItIsForgotten)
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
    testing::ScratchFolder folder;
    std::vector<TemporaryFile> files;
    for (const auto& stopCase : cases) {
        files.push_back(createTemporaryFile(folder.path(stopCase.name)));
        TemporaryFile& file = files.back();
        ASSERT_EQ(file.status, TemporaryFileStatus::Created);
        ASSERT_TRUE(writeAll(file.file, newBytes.data(), newBytes.size()));
        if (stopCase.closeFirst) {
            closeFile(file.file);
        }
        if (stopCase.forgetFirst) {
            forgetTemporaryFile(file.slot);
        }
    }
    removeTemporaryFilesOnStop();
    for (std::size_t index = 0; index < files.size(); ++index) {
        SCOPED_TRACE(cases[index].name);
        closeFile(files[index].file);
        if (!cases[index].forgetFirst) {
            forgetTemporaryFile(files[index].slot);
        }
        EXPECT_EQ(std::filesystem::exists(folder.path(cases[index].name)), !cases[index].removed);
    }
}

// A name already taken is told from a failure, and what stands there stays.
TEST(TemporaryFile, ANameTakenIsNotAFailure)
{
    testing::ScratchFolder folder;
    testing::writeFileBytes(folder.path("taken"), {'o', 'l', 'd'});
    EXPECT_EQ(createTemporaryFile(folder.path("taken")).status, TemporaryFileStatus::NameTaken);
    EXPECT_EQ(createTemporaryFile(folder.path("gone/taken")).status, TemporaryFileStatus::Failed);
    removeTemporaryFilesOnStop();
    EXPECT_EQ(testing::readFileBytes(folder.path("taken")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

// Every slot can be taken at once, and one more fails.
TEST(TemporaryFile, AsManyAtOnceAsThereAreSlots)
{
    testing::ScratchFolder folder;
    std::vector<TemporaryFile> files;
    for (std::size_t index = 0; index <= temporaryFileSlotCount; ++index) {
        files.push_back(createTemporaryFile(folder.path(std::to_string(index))));
        closeFile(files.back().file);
    }
    EXPECT_EQ(files.back().status, TemporaryFileStatus::Failed);
    files.pop_back();
    for (const TemporaryFile& file : files) {
        EXPECT_EQ(file.status, TemporaryFileStatus::Created);
        forgetTemporaryFile(file.slot);
    }
}

// Outputs written on several threads while stops remove temporary files
// under them: each output is whole or absent, and no temporary file is left.
TEST(OutputFile, ManyThreadsAndStopsAtOnce)
{
    testing::ScratchFolder folder;
    const std::vector<std::uint8_t> bytes(5000, 0x5A);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 6; ++thread) {
        threads.emplace_back([&, thread] {
            for (int file = 0; file < 40; ++file) {
                writeOutputFile(folder.path(std::to_string(thread) + "-" + std::to_string(file)), bytes);
            }
        });
    }
    for (int stop = 0; stop < 1000; ++stop) {
        removeTemporaryFilesOnStop();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder.path("."))) {
        EXPECT_NE(entry.path().filename().string().front(), '.');
        EXPECT_EQ(testing::readFileBytes(entry.path().string()), bytes);
    }
}

} // namespace
} // namespace tarvelle
