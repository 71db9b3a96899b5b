// Standard input ("-") as a file the reads can go through twice: kept in a
// temporary file in the system's temporary folder (TMPDIR), removed when it
// goes and, should the program be stopped, by the stop handlers.
#pragma once

#include "platform/file_access.hpp"
#include "source/stream_input.hpp"

#include <string>
#include <variant>

namespace tarvelle {

constexpr const char* standardInputName = "-";

class SpooledInput {
public:
    // Every byte of standard input (those the stream kept, and the rest), or
    // why it could not be kept.
    static std::variant<SpooledInput, std::string> spool(StreamInput& input);
    // Where it would be kept, for telling the user.
    static std::string folder();

    SpooledInput(SpooledInput&& other) noexcept;
    SpooledInput& operator=(SpooledInput&&) = delete;
    SpooledInput(const SpooledInput&) = delete;
    SpooledInput& operator=(const SpooledInput&) = delete;
    ~SpooledInput();

    const std::string& fileName() const { return fileName_; }

private:
    SpooledInput() = default;

    std::string fileName_; // empty once moved from
    TemporaryFileSlot slot_{};
};

} // namespace tarvelle
