#include "app/standard_input.hpp"

#include <atomic>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace tarvelle {

std::string SpooledInput::folder()
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::temp_directory_path(error);
    return error ? std::string() : path.string();
}

std::variant<SpooledInput, std::string> SpooledInput::spool(StreamInput& input)
{
    const std::string where = folder();
    if (where.empty()) {
        return std::string("no temporary folder");
    }
    static std::atomic<unsigned> serial{0};
    SpooledInput spooled;
    TemporaryFile created;
    std::string fileName;
    for (int attempt = 0; attempt < 100 && created.status != TemporaryFileStatus::Created; ++attempt) {
        fileName = (std::filesystem::path(where) / (".tarvelle-" + std::to_string(processNumber()) + "-stdin-" +
                                                    std::to_string(serial++) + ".tmp"))
                       .string();
        created = createTemporaryFile(fileName);
        if (created.status == TemporaryFileStatus::Failed) {
            return lastFileErrorText();
        }
    }
    if (created.status != TemporaryFileStatus::Created) {
        return std::string("no free name for a temporary file");
    }
    spooled.fileName_ = std::move(fileName); // removed from here on, whatever happens
    spooled.slot_ = created.slot;
    if (!writeAll(created.file, input.kept().data(), input.kept().size())) {
        return lastFileErrorText();
    }
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    for (;;) {
        const std::optional<std::size_t> read = input.readRest(buffer);
        if (!read) {
            return "standard input could not be read: " + lastFileErrorText();
        }
        if (*read == 0) {
            break;
        }
        if (!writeAll(created.file, buffer.data(), *read)) {
            return lastFileErrorText();
        }
    }
    // Closed, so that it can be opened as an input.
    if (!closeFile(created.file)) {
        return lastFileErrorText();
    }
    return spooled;
}

SpooledInput::SpooledInput(SpooledInput&& other) noexcept
    : fileName_(std::exchange(other.fileName_, {})), slot_(other.slot_)
{
}

SpooledInput::~SpooledInput()
{
    if (!fileName_.empty()) {
        removeFile(fileName_);
        forgetTemporaryFile(slot_);
    }
}

} // namespace tarvelle
