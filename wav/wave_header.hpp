// The input header. A file in the canonical 44-byte layout, or one that is no
// RIFF/WAVE file at all, is read at the fixed offsets; any other RIFF or RF64
// WAVE file by walking its chunks. Only the channel count, bits per sample and
// sample rate are tested, and the rest is carried to the outputs as it stands.
#pragma once

#include "wav/wave_layout.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvelle {

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

// Interprets the first 44 bytes of a file at the fixed offsets; bytes missing
// from a shorter buffer read as zero.
WaveHeaderInfo parseWaveHeader(std::span<const std::uint8_t> headerBytes);

// The header of a whole file, chunks walked where the layout is not the
// canonical one; nullopt on a read error.
std::optional<WaveHeaderInfo> readWaveHeader(const ByteSource& source);
WaveHeaderInfo waveHeaderOf(const WaveLayout& layout);

// The fields of a fmt chunk's body, read as the fixed-offset header has them;
// an extensible body of integer PCM reads as tag 1.
WaveHeaderInfo fmtFields(std::span<const std::uint8_t> body);
std::optional<WaveHeaderInfo> readWaveHeader(const FileHandle& file);

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
