// Files for tests: a scratch folder that cleans up after itself, and WAV bytes
// built field by field.
#pragma once

#include "wav/samples.hpp"
#include "wav/wave_header.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvelle::testing {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // A path inside the folder, as a plain string the program's functions take.
    std::string path(const std::string& name) const;

private:
    std::filesystem::path folder_;
};

struct WaveFields {
    std::int16_t formatTag = 1;
    std::uint8_t channelsLow = 2;
    std::uint8_t channelsHigh = 0;
    std::int32_t sampleRate = 44100;
    std::int32_t byteRate = 176400;
    std::int16_t blockAlign = 4;
    std::int16_t bitsPerSample = 16;
    std::int32_t fmtSize = 16;
};

void appendInt16(std::vector<std::uint8_t>& bytes, std::int32_t value);
void appendInt32(std::vector<std::uint8_t>& bytes, std::int64_t value);

// A canonical 44-byte header with dataSize in bytes 40-43, then the samples.
std::vector<std::uint8_t> waveBytes(const WaveFields& fields, std::int64_t dataSize,
                                    const std::vector<std::int16_t>& interleavedSamples);

std::vector<std::uint8_t> readFileBytes(const std::string& fileName);
void writeFileBytes(const std::string& fileName, const std::vector<std::uint8_t>& bytes);

} // namespace tarvelle::testing

namespace tarvelle {

// The file readers by name, as the tests use them: open, read, close.
std::optional<WaveHeaderInfo> readWaveHeader(const std::string& inputFileName);
LoadResult loadSamples(const std::string& inputFileName, const WaveHeaderInfo& header,
                       std::span<std::int16_t> interleavedSamples);

} // namespace tarvelle
