// Built for Windows only: names that open something other than a disk file.
#include "platform/file_access.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tarvelle {
namespace {

struct NotAFileCase {
    const char* name;
    std::string fileName; // empty: the scratch folder itself
};

void PrintTo(const NotAFileCase& testCase, std::ostream* stream)
{
    *stream << testCase.name;
}

class NotADiskFileTest : public ::testing::TestWithParam<NotAFileCase> {};

// A device opened for output would take the whole WAV file (CON: the
// screen), and one opened for input would read as an empty file instead of
// being reported as not found.
TEST_P(NotADiskFileTest, IsRefusedForInputAndOutput)
{
    testing::ScratchFolder folder;
    const std::string& fileName = GetParam().fileName;
    const std::string target = fileName.empty() ? folder.path(".") : fileName;
    EXPECT_FALSE(openInputFile(target).has_value());
    EXPECT_FALSE(openOutputFile(target).has_value());
}

INSTANTIATE_TEST_SUITE_P(Devices, NotADiskFileTest,
                         ::testing::Values(NotAFileCase{"NullDevice", "NUL"}, NotAFileCase{"Console", "CON"},
                                           NotAFileCase{"Folder", ""}),
                         [](const ::testing::TestParamInfo<NotAFileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(OpenOutputFile, ReplacesALongerFileWhole)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("take 3dB clipping.txt");
    testing::writeFileBytes(fileName, std::vector<std::uint8_t>(100, 0x55));
    {
        std::optional<FileHandle> file = openOutputFile(fileName);
        ASSERT_TRUE(file.has_value());
        ASSERT_TRUE(writeAll(*file, "abc", 3));
        ASSERT_TRUE(closeFile(*file));
    }
    EXPECT_EQ(testing::readFileBytes(fileName), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

} // namespace
} // namespace tarvelle
