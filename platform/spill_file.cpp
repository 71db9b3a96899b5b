#include "platform/spill_file.hpp"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

namespace tarvelle {

namespace {

std::atomic<unsigned> spillNumber{0};

// A fresh file in the system's temporary folder, or why none could be made.
std::optional<TemporaryFile> createSpill(std::string& fileName, std::string& failure)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) {
        failure = error.message();
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        fileName = (folder / (".tarvelle-" + std::to_string(processNumber()) + "-" +
                              std::to_string(spillNumber.fetch_add(1)) + "-spill.tmp"))
                       .string();
        TemporaryFile created = createTemporaryFile(fileName);
        if (created.status == TemporaryFileStatus::Created) {
            return created;
        }
        if (created.status == TemporaryFileStatus::Failed) {
            failure = lastFileErrorText();
            return std::nullopt;
        }
    }
    failure = "no free name for a temporary file";
    return std::nullopt;
}

} // namespace

SpillFile::SpillFile(SpillFile&& other) noexcept
    : memory_(std::move(other.memory_)), file_(std::move(other.file_)), fileName_(std::move(other.fileName_)),
      slot_(other.slot_), fileBytes_(other.fileBytes_), failure_(std::move(other.failure_))
{
    other.file_.reset();
    other.fileName_.clear();
    other.fileBytes_ = 0;
}

SpillFile::~SpillFile()
{
    if (file_) {
        closeFile(*file_);
        removeFile(fileName_);
        forgetTemporaryFile(slot_);
    }
}

void SpillFile::append(std::span<const std::uint8_t> bytes)
{
    // Where the disk fails, the bytes stay in memory: a result is not lost.
    if (memory_.size() + bytes.size() >= memoryBytes && failure_.empty() && toDisk(memory_)) {
        memory_.clear();
        if (toDisk(bytes)) {
            return;
        }
    }
    memory_.insert(memory_.end(), bytes.begin(), bytes.end());
}

bool SpillFile::toDisk(std::span<const std::uint8_t> bytes)
{
    if (!file_) {
        std::optional<TemporaryFile> created = createSpill(fileName_, failure_);
        if (!created) {
            return false;
        }
        file_ = std::move(created->file);
        slot_ = created->slot;
    }
    if (!writeAll(*file_, bytes.data(), bytes.size())) {
        failure_ = lastFileErrorText();
        return false;
    }
    fileBytes_ += bytes.size();
    return true;
}

bool SpillFile::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (offset + buffer.size() > size()) {
        return false;
    }
    if (offset < fileBytes_) {
        const auto fromFile =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), fileBytes_ - offset));
        const std::optional<std::size_t> got = tarvelle::readAt(*file_, offset, buffer.data(), fromFile);
        if (!got || *got != fromFile) {
            return false;
        }
        buffer = buffer.subspan(fromFile);
        offset += fromFile;
        // Read whole from the file: the offset may still lie before memory's bytes.
        if (buffer.empty()) {
            return true;
        }
    }
    std::copy_n(memory_.begin() + static_cast<std::ptrdiff_t>(offset - fileBytes_), buffer.size(), buffer.begin());
    return true;
}

bool SpillFile::readAll(const std::function<void(std::span<const std::uint8_t>)>& piece) const
{
    if (fileBytes_ > 0) {
        std::vector<std::uint8_t> buffer(memoryBytes);
        for (std::uint64_t offset = 0; offset < fileBytes_;) {
            const std::optional<std::size_t> got = tarvelle::readAt(*file_, offset, buffer.data(), buffer.size());
            if (!got || *got == 0) {
                return false;
            }
            const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(*got, fileBytes_ - offset));
            piece(std::span(buffer.data(), used));
            offset += used;
        }
    }
    if (!memory_.empty()) {
        piece(memory_);
    }
    return true;
}

} // namespace tarvelle
