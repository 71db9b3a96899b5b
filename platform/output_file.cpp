#include "platform/output_file.hpp"

#include <atomic>
#include <utility>

namespace tarvelle {

namespace {

// Names tried for one output before it fails: a name taken is a file left by
// an earlier run whose process number this one has now (a container's
// processes are numbered from 1 again), or by another run in the same case.
constexpr int temporaryNameAttempts = 100;

// Unique within the run, whatever thread asks.
std::string temporaryNameBeside(const std::string& fileName)
{
    static std::atomic<unsigned> serial{0};
    return folderOf(fileName) + ".tarvelle-" + std::to_string(processNumber()) + "-" +
           std::to_string(serial.fetch_add(1) + 1) + ".tmp";
}

} // namespace

OutputFile OutputFile::begin(const std::string& fileName)
{
    OutputFile output(fileName);
    if (!checkReplaceableOutput(fileName, output.heldOldFile_)) {
        output.failure_ = lastFileErrorText();
        return output;
    }
    // Its place is had before the file is made: nothing may fail between the two.
    output.file_ = std::make_unique<FileHandle>();
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        std::string temporaryName = temporaryNameBeside(fileName);
        TemporaryFile created = createTemporaryFile(temporaryName);
        if (created.status == TemporaryFileStatus::Created) {
            *output.file_ = std::move(created.file);
            output.temporarySlot_ = created.slot;
            output.temporaryName_ = std::move(temporaryName);
            return output;
        }
        if (created.status == TemporaryFileStatus::Failed) {
            break;
        }
    }
    output.failure_ = lastFileErrorText();
    return output;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fileName_(std::move(other.fileName_)), temporaryName_(std::exchange(other.temporaryName_, {})),
      temporarySlot_(other.temporarySlot_), file_(std::move(other.file_)), encoder_(std::move(other.encoder_)),
      heldOldFile_(std::exchange(other.heldOldFile_, std::nullopt)), failure_(std::move(other.failure_))
{
}

OutputFile::~OutputFile()
{
    discardTemporaryFile();
}

void OutputFile::discardTemporaryFile()
{
    encoder_.reset();
    file_.reset();
    if (!temporaryName_.empty()) {
        removeFile(temporaryName_);
        temporaryName_.clear();
        forgetTemporaryFile(temporarySlot_);
    }
    heldOldFile_.reset();
}

void OutputFile::append(std::span<const std::uint8_t> bytes)
{
    if (failed()) {
        return;
    }
    if (encoder_) {
        if (std::optional<std::string> failure = encoder_->append(bytes)) {
            failure_ = std::move(*failure);
        }
    } else if (!writeAll(*file_, bytes.data(), bytes.size())) {
        failure_ = lastFileErrorText();
    }
}

void OutputFile::encodeWith(const MakeOutputEncoder& makeEncoder)
{
    if (!failed()) {
        encoder_ = makeEncoder(*file_);
    }
}

OutputResult OutputFile::commit()
{
    if (encoder_ && !failed()) {
        if (std::optional<std::string> failure = encoder_->finish()) {
            failure_ = std::move(*failure);
        }
    }
    encoder_.reset();
    if (file_ && !closeFile(*file_) && !failed()) {
        failure_ = lastFileErrorText();
    }
    file_.reset();
    if (!failed() && !replaceFile(temporaryName_, fileName_)) {
        failure_ = lastFileErrorText();
    }
    if (!failed()) {
        temporaryName_.clear();
        forgetTemporaryFile(temporarySlot_);
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
