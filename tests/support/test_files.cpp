#include "support/test_files.hpp"

#include "platform/file_access.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarvelle::testing {

ScratchFolder::ScratchFolder()
{
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = std::filesystem::temp_directory_path() /
              ("tarvelle-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(folder_);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string ScratchFolder::path(const std::string& name) const
{
    return (folder_ / name).string();
}

void appendInt16(std::vector<std::uint8_t>& bytes, std::int32_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void appendInt32(std::vector<std::uint8_t>& bytes, std::int64_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
    }
}

std::vector<std::uint8_t> waveBytes(const WaveFields& fields, std::int64_t dataSize,
                                    const std::vector<std::int16_t>& interleavedSamples)
{
    std::vector<std::uint8_t> bytes;
    const auto appendTag = [&bytes](const char* tag) {
        for (int index = 0; index < 4; ++index) {
            bytes.push_back(static_cast<std::uint8_t>(tag[index]));
        }
    };
    appendTag("RIFF");
    appendInt32(bytes, dataSize + 36);
    appendTag("WAVE");
    appendTag("fmt ");
    appendInt32(bytes, fields.fmtSize);
    appendInt16(bytes, fields.formatTag);
    bytes.push_back(fields.channelsLow);
    bytes.push_back(fields.channelsHigh);
    appendInt32(bytes, fields.sampleRate);
    appendInt32(bytes, fields.byteRate);
    appendInt16(bytes, fields.blockAlign);
    appendInt16(bytes, fields.bitsPerSample);
    appendTag("data");
    appendInt32(bytes, dataSize);
    for (const std::int16_t sample : interleavedSamples) {
        appendInt16(bytes, sample);
    }
    return bytes;
}

std::vector<std::uint8_t> readFileBytes(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + fileName);
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void writeFileBytes(const std::string& fileName, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + fileName);
    }
}

} // namespace tarvelle::testing

namespace tarvelle {

std::optional<WaveHeaderInfo> readWaveHeader(const std::string& inputFileName)
{
    const std::optional<FileHandle> file = openInputFile(inputFileName);
    return file ? readWaveHeader(*file) : std::nullopt;
}

LoadResult loadSamples(const std::string& inputFileName, const WaveHeaderInfo& header,
                       std::span<std::int16_t> interleavedSamples)
{
    const std::optional<FileHandle> file = openInputFile(inputFileName);
    return file ? loadSamples(*file, header, interleavedSamples) : LoadResult::NotReadable;
}

} // namespace tarvelle
