#include "app/input_checks.hpp"

#include "platform/file_access.hpp"

#include <variant>

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
    case InputError::Changed:
        return "This Wave file changed while it was read  ";
    case InputError::InUse:
        return "This Wave file is in use by another program  ";
    case InputError::ReadError:
        return "This Wave file could not be read  ";
    }
    return "";
}

std::string_view jobErrorText(JobError::Kind kind)
{
    switch (kind) {
    case JobError::Kind::NotFound:
        return inputErrorText(InputError::NotFound);
    case JobError::Kind::InUse:
        return inputErrorText(InputError::InUse);
    case JobError::Kind::NotEnoughMemory:
        return inputErrorText(InputError::NotEnoughMemory);
    case JobError::Kind::ReadError:
        return inputErrorText(InputError::ReadError);
    case JobError::Kind::Changed:
        return inputErrorText(InputError::Changed);
    case JobError::Kind::NotANumber:
        return "This Wave file holds a sample that is not a number (NaN or infinite) at frame";
    case JobError::Kind::Unopenable:
    case JobError::Kind::Refused:
        break;
    }
    return "";
}

namespace {

// A NUL would end the name early at the file system and name another file.
bool isAcceptableName(const std::string& inputFileName)
{
    return !inputFileName.empty() && inputFileName.find_first_of(std::string_view("*?\0", 3)) == std::string::npos;
}

} // namespace

InputCheck checkInputFile(const std::string& inputFileName)
{
    InputCheck check;
    // One open, held through the load, so the header and the samples cannot
    // come from two versions of a file being replaced.
    if (!isAcceptableName(inputFileName)) {
        check.error = InputError::NotFound;
        return check;
    }
    std::variant<FileHandle, InputOpenFailure> opened = tryOpenInputFile(inputFileName);
    if (const InputOpenFailure* failure = std::get_if<InputOpenFailure>(&opened)) {
        check.error = *failure == InputOpenFailure::InUse ? InputError::InUse : InputError::NotFound;
        check.systemReason = lastFileErrorText();
        return check;
    }
    check.file = std::move(std::get<FileHandle>(opened));
    const std::optional<WaveHeaderInfo> header = readWaveHeader(*check.file);
    if (!header) {
        check.error = InputError::ReadError;
        check.systemReason = lastFileErrorText();
        check.file.reset();
        return check;
    }
    check.error = checkWaveHeader(*header);
    if (check.error) {
        check.file.reset();
    } else {
        check.header = acceptWaveHeader(*header);
    }
    return check;
}

} // namespace tarvelle
