// The one way a byte reaches an output file. Writers elsewhere produce bytes;
// this opens, appends and closes, and says which file failed and why.
#pragma once

#include "platform/file_access.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvelle {

struct OutputResult {
    std::string fileName;
    bool written = false;
    std::string failure; // the system's reason when not written, else empty
};

// An output file being written: begin, append any number of times, then
// commit or abandon. The first failure is kept and later appends do nothing,
// so a caller may write a whole file and look only at commit's result.
class OutputFile {
public:
    // Opens the file, replacing any old one whole.
    static OutputFile begin(const std::string& fileName);

    OutputFile(OutputFile&&) = default;
    OutputFile& operator=(OutputFile&&) = default;

    bool failed() const { return !failure_.empty(); }

    void append(std::span<const std::uint8_t> bytes);

    // Closes the file; written only when every byte went out and the close
    // reported no error.
    OutputResult commit();

    // Closes the file without claiming it complete; what was written stays.
    OutputResult abandon(std::string failure);

private:
    explicit OutputFile(std::string fileName) : fileName_(std::move(fileName)) {}

    std::string fileName_;
    std::optional<FileHandle> file_;
    std::string failure_;
};

// A whole file from bytes already made.
OutputResult writeOutputFile(const std::string& fileName, std::span<const std::uint8_t> bytes);

// A file that is not written, and why.
OutputResult notWritten(const std::string& fileName, std::string failure);

} // namespace tarvelle
