#include "platform/output_file.hpp"

#include <utility>

namespace tarvelle {

namespace {

std::string temporaryNameBeside(const std::string& fileName)
{
    static unsigned serial = 0;
    return folderOf(fileName) + ".tarvelle-" + std::to_string(processNumber()) + "-" + std::to_string(++serial) +
           ".tmp";
}

} // namespace

OutputFile OutputFile::begin(const std::string& fileName)
{
    OutputFile output(fileName);
    if (!checkReplaceableOutput(fileName, output.heldOldFile_)) {
        output.failure_ = lastFileErrorText();
        return output;
    }
    std::string temporaryName = temporaryNameBeside(fileName);
    output.file_ = createTemporaryFile(temporaryName);
    if (!output.file_) {
        output.failure_ = lastFileErrorText();
        return output;
    }
    output.temporaryName_ = std::move(temporaryName);
    return output;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fileName_(std::move(other.fileName_)), temporaryName_(std::exchange(other.temporaryName_, {})),
      file_(std::exchange(other.file_, std::nullopt)),
      heldOldFile_(std::exchange(other.heldOldFile_, std::nullopt)), failure_(std::move(other.failure_))
{
}

OutputFile::~OutputFile()
{
    discardTemporaryFile();
}

void OutputFile::discardTemporaryFile()
{
    file_.reset();
    if (!temporaryName_.empty()) {
        removeFile(temporaryName_);
        temporaryName_.clear();
        forgetTemporaryFile();
    }
    heldOldFile_.reset();
}

void OutputFile::append(std::span<const std::uint8_t> bytes)
{
    if (!failed() && !writeAll(*file_, bytes.data(), bytes.size())) {
        failure_ = lastFileErrorText();
    }
}

OutputResult OutputFile::commit()
{
    if (file_ && !closeFile(*file_) && !failed()) {
        failure_ = lastFileErrorText();
    }
    file_.reset();
    if (!failed() && !replaceFile(temporaryName_, fileName_)) {
        failure_ = lastFileErrorText();
    }
    if (!failed()) {
        temporaryName_.clear();
        forgetTemporaryFile();
    }
    discardTemporaryFile();
    return OutputResult{fileName_, !failed(), failure_};
}

OutputResult writeOutputFile(const std::string& fileName, std::span<const std::uint8_t> bytes)
{
    OutputFile file = OutputFile::begin(fileName);
    file.append(bytes);
    return file.commit();
}

OutputResult notWritten(const std::string& fileName, std::string failure)
{
    return OutputResult{fileName, false, std::move(failure)};
}

} // namespace tarvelle
