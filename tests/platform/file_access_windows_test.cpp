// Built for Windows only: names that open something other than a disk file.
#include "platform/file_access.hpp"
#include "platform/output_file.hpp"

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
    EXPECT_FALSE(writeOutputFile(target, std::vector<std::uint8_t>{1}).written);
}

INSTANTIATE_TEST_SUITE_P(Devices, NotADiskFileTest,
                         ::testing::Values(NotAFileCase{"NullDevice", "NUL"}, NotAFileCase{"Console", "CON"},
                                           NotAFileCase{"Folder", ""}),
                         [](const ::testing::TestParamInfo<NotAFileCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace tarvelle
