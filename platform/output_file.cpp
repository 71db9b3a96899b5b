#include "platform/output_file.hpp"

#include <utility>

namespace tarvelle {

OutputFile OutputFile::begin(const std::string& fileName)
{
    OutputFile output(fileName);
    output.file_ = openOutputFile(fileName);
    if (!output.file_) {
        output.failure_ = lastFileErrorText();
    }
    return output;
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
    return OutputResult{fileName_, !failed(), failure_};
}

OutputResult OutputFile::abandon(std::string failure)
{
    if (file_) {
        closeFile(*file_);
        file_.reset();
    }
    if (!failed()) {
        failure_ = std::move(failure);
    }
    return OutputResult{fileName_, false, failure_};
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
