#include "app/input_checks.hpp"

#include "platform/file_access.hpp"

namespace tarvelle {

std::string_view inputErrorText(InputError error)
{
    switch (error) {
    case InputError::NotFound:
        return "            File not found.\\n Please enter a valid filename  ";
    case InputError::NotStereo:
        return "This is not a stereo Wave file  ";
    case InputError::Not16Bit:
        return "This is not a 16-bit Wave file  ";
    case InputError::UnsupportedRate:
        return "This is not a 44.1, 88.2 or 176.4kHz Wave file  ";
    case InputError::TooLarge:
        return "This Wave file is too large  ";
    case InputError::NotEnoughMemory:
        return "There is not enough memory for this Wave file  ";
    }
    return "";
}

bool inputFileExists(const std::string& inputFileName)
{
    // A NUL would end the name early at the file system and name another file.
    if (inputFileName.empty() || inputFileName.find_first_of(std::string_view("*?\0", 3)) != std::string::npos) {
        return false;
    }
    std::optional<FileHandle> file = openInputFile(inputFileName);
    return file.has_value();
}

InputCheck checkInputFile(const std::string& inputFileName)
{
    InputCheck check;
    if (!inputFileExists(inputFileName)) {
        check.error = InputError::NotFound;
        return check;
    }
    // The file may have gone or been locked since the existence test.
    std::optional<WaveHeaderInfo> header = readWaveHeader(inputFileName);
    if (!header) {
        check.error = InputError::NotFound;
        return check;
    }
    check.header = *header;
    check.error = checkWaveHeader(check.header);
    if (!check.error) {
        deriveWaveValues(check.header);
    }
    return check;
}

} // namespace tarvelle
