#include "support/test_files.hpp"

#include "platform/file_access.hpp"

#include <array>
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

RiffBuilder& RiffBuilder::tag(std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
}

RiffBuilder& RiffBuilder::uint32(std::uint32_t value)
{
    appendInt32(bytes, value);
    return *this;
}

RiffBuilder& RiffBuilder::raw(const std::vector<std::uint8_t>& body)
{
    bytes.insert(bytes.end(), body.begin(), body.end());
    return *this;
}

RiffBuilder& RiffBuilder::chunk(std::string_view chunkTag, const std::vector<std::uint8_t>& body)
{
    tag(chunkTag).uint32(static_cast<std::uint32_t>(body.size())).raw(body);
    if (body.size() % 2 != 0) {
        bytes.push_back(0);
    }
    return *this;
}

RiffBuilder riffStart(std::string_view riffTag, std::uint32_t riffSize)
{
    RiffBuilder file;
    file.tag(riffTag).uint32(riffSize).tag("WAVE");
    return file;
}

std::vector<std::uint8_t> audioBytes()
{
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t sample : twinAudio) {
        appendInt16(bytes, sample);
    }
    return bytes;
}

std::vector<std::uint8_t> fmtBody(std::size_t size, std::uint16_t formatTag)
{
    // The twin's fields: stereo, 16-bit, 88.2 kHz, with an odd byte rate to show it is copied.
    std::vector<std::uint8_t> body;
    appendInt16(body, formatTag);
    appendInt16(body, 2);
    appendInt32(body, 88200);
    appendInt32(body, 352801);
    appendInt16(body, 4);
    appendInt16(body, 16);
    if (size >= 18) {
        appendInt16(body, static_cast<std::int32_t>(size - 18));
    }
    if (size == 40) {
        appendInt16(body, 16); // valid bits
        appendInt32(body, 3);  // channel mask
        const std::vector<std::uint8_t> pcm = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                               0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        body.insert(body.end(), pcm.begin(), pcm.end());
    }
    return body;
}

std::vector<std::uint8_t> filler(std::size_t size)
{
    std::vector<std::uint8_t> body(size);
    for (std::size_t index = 0; index < size; ++index) {
        body[index] = static_cast<std::uint8_t>('a' + index % 26);
    }
    return body;
}

std::vector<std::uint8_t> ds64Body(std::uint64_t dataSize)
{
    std::vector<std::uint8_t> body;
    appendInt32(body, 0);
    appendInt32(body, 0);
    appendInt32(body, static_cast<std::int64_t>(dataSize & 0xFFFFFFFF));
    appendInt32(body, static_cast<std::int64_t>(dataSize >> 32));
    body.resize(28, 0); // sample count and an empty table
    return body;
}

SampleFormat formatOf(SampleEncoding encoding, int channels, std::int32_t sampleRate, std::uint32_t channelMask)
{
    constexpr std::array<int, 6> containerBytes{1, 2, 3, 4, 4, 8};
    const int bytes = containerBytes[static_cast<std::size_t>(encoding)];
    return SampleFormat{encoding, channels, bytes, 8 * bytes, sampleRate, channelMask, false};
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
