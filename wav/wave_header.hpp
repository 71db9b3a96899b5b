// The input header. A file in the canonical 44-byte layout, or one that is no
// RIFF/WAVE file at all, is read at the fixed offsets; any other RIFF or RF64
// WAVE file by walking its chunks. Only the channel count, bits per sample and
// sample rate are tested, and the rest is carried to the outputs as it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvelle {

class FileHandle;

constexpr std::size_t waveHeaderSizeInBytes = 44;

struct WaveHeaderInfo {
    // Read from the file.
    std::int16_t formatTag = 0;
    std::int16_t channels = 0; // the byte at offset 22 only, 0..255
    std::int32_t sampleRate = 0;
    std::int32_t byteRate = 0;
    std::int16_t blockAlign = 0;
    std::int16_t bitsPerSample = 0;
    std::int32_t dataSize = 0;
    std::uint64_t dataOffset = waveHeaderSizeInBytes; // where the first sample frame is
    // Derived by acceptWaveHeader; 0 in a header not accepted.
    std::int32_t riffSize = 0;
    std::int32_t samplesPerChannel = 0;
    double durationSeconds = 0.0;
    std::int16_t rateFactor = 0;
};

// Why a named file cannot be processed: the header's tests, and what can go
// wrong in opening and loading it.
enum class InputError {
    NotFound,
    NotStereo,
    Not16Bit,
    UnsupportedRate,
    TooLarge, // dataSize reads negative: 2^31 bytes or more
    NotEnoughMemory,
    Changed,   // different on a second read: counted against the wrong peak
    InUse,     // another program holds it for writing
    ReadError, // opened, but the system could not read it
};

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

// Interprets the first 44 bytes of a file at the fixed offsets; bytes missing
// from a shorter buffer read as zero.
WaveHeaderInfo parseWaveHeader(std::span<const std::uint8_t> headerBytes);

// The header of a whole file, chunks walked where the layout is not the
// canonical one; nullopt on a read error.
std::optional<WaveHeaderInfo> readWaveHeader(const ByteSource& source);
std::optional<WaveHeaderInfo> readWaveHeader(const FileHandle& file);

// The first failing test, in the order stereo, 16-bit, rate, size; nullopt
// when the header is accepted.
std::optional<InputError> checkWaveHeader(const WaveHeaderInfo& header);

// A header that passed its checks, with riffSize, samplesPerChannel,
// durationSeconds and rateFactor derived: only acceptWaveHeader makes one, so
// what needs them cannot be handed a header without them.
class AcceptedHeader : public WaveHeaderInfo {
public:
    AcceptedHeader() = default; // no samples, no rate: an empty file's values

private:
    explicit AcceptedHeader(const WaveHeaderInfo& header) : WaveHeaderInfo(header) {}
    friend AcceptedHeader acceptWaveHeader(const WaveHeaderInfo& header);
};

AcceptedHeader acceptWaveHeader(const WaveHeaderInfo& header);

} // namespace tarvelle
