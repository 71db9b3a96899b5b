// One walk over a file's chunks, and what it finds: the one description of
// the file that the dialogue's header reader and batch mode's reader each
// apply their own rules to. Bytes come from a ByteSource, so the walk is the
// same over a file and over bytes in memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarvelle {

class FileHandle;

// What the header reader reads: an open file, or bytes in memory. Bodies of
// chunks before the audio are skipped, never read, so they may be megabytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Up to buffer.size() bytes from offset, fewer only at the end; nullopt
    // on a read error.
    virtual std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// An open file of a known size.
class FileByteSource final : public ByteSource {
public:
    FileByteSource(const FileHandle& file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t size() const override { return size_; }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;

private:
    const FileHandle& file_;
    std::uint64_t size_;
};

// A size a writer leaves when it cannot go back to fill it in (a pipe), or
// that an RF64 file keeps in its ds64 chunk.
constexpr std::uint64_t unknownChunkSize = 0xFFFFFFFF;
constexpr std::size_t fmtBaseSize = 16;
constexpr std::size_t extensibleFmtSize = 40;

enum class WaveContainer { Other, Riff, Rf64, Bw64, Rifx }; // Rifx and Other are not walked

struct WaveLayout {
    std::uint64_t fileSize = 0;
    std::array<std::uint8_t, 44> start{}; // the first bytes, zero past the end
    std::size_t startSize = 0;
    WaveContainer container = WaveContainer::Other;

    // The first fmt chunk of at least 16 bytes: its size as written, and as
    // many of its first 40 bytes as the file holds.
    std::optional<std::uint64_t> fmtSize;
    std::array<std::uint8_t, extensibleFmtSize> fmt{};
    std::size_t fmtBytesRead = 0;
    std::optional<std::uint64_t> shortFmtSize; // a fmt chunk too short to hold the format

    // The first data chunk.
    std::optional<std::uint64_t> dataOffset;
    std::uint64_t dataSizeField = 0;           // as its header gives it
    std::optional<std::uint64_t> ds64DataSize; // an RF64 file's true size, when the field is unknown
    bool chunkAfterEmptyData = false;          // a size of 0 is the truth, not a recorder stopped early

    std::span<const std::uint8_t> startBytes() const { return std::span(start.data(), startSize); }
    // The data size the chunks give: the ds64 one where it stands in.
    std::uint64_t dataSize() const { return ds64DataSize.value_or(dataSizeField); }
    std::uint64_t bytesAfterDataOffset() const
    {
        return dataOffset && fileSize > *dataOffset ? fileSize - *dataOffset : 0;
    }
};

// nullopt on a read error.
std::optional<WaveLayout> describeWaveFile(const ByteSource& source);

} // namespace tarvelle
