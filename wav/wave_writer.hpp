// The headers of the clipped WAV files: one writer for every layout.
#pragma once

#include "wav/sample_format.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvelle {

// The fields of a header as they are stored. Sizes are the 32-bit fields as
// written; an RF64 file keeps the true ones in its ds64 chunk.
struct WaveHeaderFields {
    std::uint32_t riffSize = 0;
    struct Ds64 {
        std::uint64_t riffSize = 0;
        std::uint64_t dataSize = 0;
        std::uint64_t frameCount = 0;
    };
    std::optional<Ds64> ds64; // an RF64 file
    std::uint32_t fmtSize = 16;
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    // The extension of a 40-byte fmt chunk.
    std::uint16_t validBits = 0;
    std::uint32_t channelMask = 0;
    std::uint16_t subFormat = 0;
    std::optional<std::uint32_t> factFrames; // a fact chunk
    std::uint32_t dataSize = 0;
};

std::vector<std::uint8_t> waveHeaderBytes(const WaveHeaderFields& fields);

// The bytes before the first frame: the plain 44-byte layout for integer PCM
// of at most two channels and 16 bits, tag 3 with a fact chunk for float, else
// WAVE_FORMAT_EXTENSIBLE; RF64 with a ds64 chunk when the RIFF size cannot
// hold the data. An odd number of data bytes is followed by one zero byte,
// which the sizes count.
std::vector<std::uint8_t> clippedWavHeaderFor(const SampleFormat& format, std::uint64_t frameCount);

} // namespace tarvelle
