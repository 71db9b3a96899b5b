// The one way a byte reaches an output file. Writers elsewhere produce bytes;
// this opens, appends and closes, and says which file failed and why.
#pragma once

#include "platform/file_access.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tarvelle {

struct OutputResult {
    std::string fileName;
    bool written = false;
    std::string failure; // the system's reason when not written, else empty
};

// Writes a file in a format of its own: handed every byte appended, it writes
// the temporary file itself, anywhere in it (a header may come last). Each
// returns the reason of a failure, or nothing.
class OutputEncoder {
public:
    virtual ~OutputEncoder() = default;
    virtual std::optional<std::string> append(std::span<const std::uint8_t> bytes) = 0;
    virtual std::optional<std::string> finish() = 0;
};
using MakeOutputEncoder = std::function<std::unique_ptr<OutputEncoder>(const FileHandle& file)>;

// An output file being written: begin, append any number of times, then
// commit. The bytes go to a temporary file beside the final name
// (".tarvelle-PID-N.tmp", out of the way of globs and of other runs; a name
// already taken is passed over) that is renamed over the final name only once
// complete and closed; on any failure it is removed and an old file under the
// final name stays as it was. The first failure is kept and later appends do
// nothing, so a caller may write a whole file and look only at commit's
// result. Any number may be open at once, on any threads, up to
// temporaryFileSlotCount.
class OutputFile {
public:
    static OutputFile begin(const std::string& fileName);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // An output left without its commit (an exception) is removed.
    ~OutputFile();

    bool failed() const { return !failure_.empty(); }

    void append(std::span<const std::uint8_t> bytes);
    // Before the first append, where the file stays until its commit: every
    // byte appended goes through the encoder, which is finished by the commit.
    void encodeWith(const MakeOutputEncoder& makeEncoder);

    // Written only when every byte went out, the close reported no error and
    // the file took the final name.
    OutputResult commit();

private:
    explicit OutputFile(std::string fileName) : fileName_(std::move(fileName)) {}

    void discardTemporaryFile();

    std::string fileName_;
    std::string temporaryName_;              // empty once renamed or removed
    TemporaryFileSlot temporarySlot_{};      // its registration, while temporaryName_ is not empty
    std::unique_ptr<FileHandle> file_;       // where it is, whatever moves: an encoder holds it
    std::unique_ptr<OutputEncoder> encoder_; // writes through file_, so goes first
    std::optional<FileHandle> heldOldFile_;
    std::string failure_;
};

// A whole file from bytes already made.
OutputResult writeOutputFile(const std::string& fileName, std::span<const std::uint8_t> bytes);

// A file that is not written, and why.
OutputResult notWritten(const std::string& fileName, std::string failure);

} // namespace tarvelle
