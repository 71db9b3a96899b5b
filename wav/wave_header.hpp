// The input header, read at the fixed offsets of the canonical 44-byte layout.
// No RIFF parsing: only the channel count, bits per sample and sample rate are
// tested, and the rest is carried to the outputs as it stands.
#pragma once

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
    // Derived by deriveWaveValues once the header is accepted.
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
};

// Interprets the first 44 bytes of a file; bytes missing from a shorter
// buffer read as zero.
WaveHeaderInfo parseWaveHeader(std::span<const std::uint8_t> headerBytes);

// Opens the file read-only and parses its header; nullopt when it cannot be
// opened or read any more.
std::optional<WaveHeaderInfo> readWaveHeader(const std::string& inputFileName);

// The first failing test, in the order stereo, 16-bit, rate, size; nullopt
// when the header is accepted.
std::optional<InputError> checkWaveHeader(const WaveHeaderInfo& header);

// Fills riffSize, samplesPerChannel, durationSeconds and rateFactor of an
// accepted header.
void deriveWaveValues(WaveHeaderInfo& header);

} // namespace tarvelle
