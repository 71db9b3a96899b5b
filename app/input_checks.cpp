#include "app/input_checks.hpp"

#include "platform/file_access.hpp"

#include <variant>

namespace tarvelle {

std::string_view jobErrorText(JobError::Kind kind)
{
    switch (kind) {
    case JobError::Kind::NotFound:
        return "            File not found.\\n Please enter a valid filename  ";
    case JobError::Kind::NotStereo:
        return "This is not a stereo Wave file  ";
    case JobError::Kind::Not16Bit:
        return "This is not a 16-bit Wave file  ";
    case JobError::Kind::UnsupportedRate:
        return "This is not a 44.1, 88.2 or 176.4kHz Wave file  ";
    case JobError::Kind::TooLarge:
        return "This Wave file is too large  ";
    case JobError::Kind::NotEnoughMemory:
        return "There is not enough memory for this Wave file  ";
    case JobError::Kind::Changed:
        return "This Wave file changed while it was read  ";
    case JobError::Kind::InUse:
        return "This Wave file is in use by another program  ";
    case JobError::Kind::ReadError:
        return "This Wave file could not be read  ";
    case JobError::Kind::NotANumber:
        return "This Wave file holds a sample that is not a number (NaN or infinite) at frame";
    case JobError::Kind::Unopenable:
    case JobError::Kind::Refused:
        break;
    }
    return "";
}

std::optional<JobError::Kind> checkWaveHeader(const WaveHeaderInfo& header)
{
    if (header.channels != 2) {
        return JobError::Kind::NotStereo;
    }
    if (header.bitsPerSample != 16) {
        return JobError::Kind::Not16Bit;
    }
    if (header.sampleRate != 44100 && header.sampleRate != 88200 && header.sampleRate != 176400) {
        return JobError::Kind::UnsupportedRate;
    }
    if (header.dataSize < 0) {
        return JobError::Kind::TooLarge;
    }
    return std::nullopt;
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
        check.error = JobError::Kind::NotFound;
        return check;
    }
    std::variant<FileHandle, InputOpenFailure> opened = tryOpenInputFile(inputFileName);
    if (const InputOpenFailure* failure = std::get_if<InputOpenFailure>(&opened)) {
        check.error = *failure == InputOpenFailure::InUse ? JobError::Kind::InUse : JobError::Kind::NotFound;
        check.systemReason = lastFileErrorText();
        return check;
    }
    check.file = std::move(std::get<FileHandle>(opened));
    const std::optional<WaveHeaderInfo> header = readWaveHeader(*check.file);
    if (!header) {
        check.error = JobError::Kind::ReadError;
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
