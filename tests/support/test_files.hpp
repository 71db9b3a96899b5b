// Files for tests: a scratch folder that cleans up after itself, and WAV bytes
// built field by field.
#pragma once

#include "wav/sample_format.hpp"
#include "wav/samples.hpp"
#include "wav/wave_header.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// A RIFF file assembled chunk by chunk, as other programs write them.
struct RiffBuilder {
    std::vector<std::uint8_t> bytes;

    RiffBuilder& tag(std::string_view text);
    RiffBuilder& uint32(std::uint32_t value);
    RiffBuilder& raw(const std::vector<std::uint8_t>& body);
    // Tag, size, body and the pad byte after an odd body.
    RiffBuilder& chunk(std::string_view chunkTag, const std::vector<std::uint8_t>& body);
};

RiffBuilder riffStart(std::string_view riffTag = "RIFF", std::uint32_t riffSize = 1000);

// A short stereo take, and the canonical file of it that other layouts are read against.
inline const std::vector<std::int16_t> twinAudio = {1000, -2000, 30000, -32768, 5, -5};
constexpr std::uint32_t twinDataSize = 12;

std::vector<std::uint8_t> audioBytes();
// The twin's fields in a fmt body of 16, 18 or 40 bytes.
std::vector<std::uint8_t> fmtBody(std::size_t size, std::uint16_t formatTag = 1);
// Letters, so a body read as a header is seen to be wrong.
std::vector<std::uint8_t> filler(std::size_t size);
std::vector<std::uint8_t> ds64Body(std::uint64_t dataSize);

// A format of whole containers: 8 bits per byte valid.
SampleFormat formatOf(SampleEncoding encoding, int channels, std::int32_t sampleRate,
                      std::uint32_t channelMask = 0);

std::vector<std::uint8_t> readFileBytes(const std::string& fileName);
void writeFileBytes(const std::string& fileName, const std::vector<std::uint8_t>& bytes);

} // namespace tarvelle::testing

namespace tarvelle {

// The file readers by name, as the tests use them: open, read, close.
std::optional<WaveHeaderInfo> readWaveHeader(const std::string& inputFileName);
LoadResult loadSamples(const std::string& inputFileName, const WaveHeaderInfo& header,
                       std::span<std::int16_t> interleavedSamples);

} // namespace tarvelle
