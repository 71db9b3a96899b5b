#include "wav/wave_header.hpp"

#include "app/input_checks.hpp"
#include "support/test_files.hpp"
#include "wav/batch_input.hpp"
#include "wav/clipped_wav.hpp"
#include "wav/samples.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace tarvelle {
namespace {

using testing::audioBytes;
using testing::ds64Body;
using testing::filler;
using testing::fmtBody;
using testing::riffStart;
using testing::twinAudio;
using testing::twinDataSize;
using testing::waveBytes;
using testing::WaveFields;

WaveHeaderInfo parse(const std::vector<std::uint8_t>& bytes)
{
    return parseWaveHeader(bytes);
}

TEST(WaveHeader, FieldsComeFromTheirFixedOffsets)
{
    WaveFields fields;
    fields.formatTag = static_cast<std::int16_t>(0xFFFE);
    fields.channelsHigh = 1; // 02 01: only the low byte counts
    fields.sampleRate = 88200;
    fields.byteRate = 12345;
    fields.blockAlign = 7;
    fields.fmtSize = 18;
    const WaveHeaderInfo header = parse(waveBytes(fields, 1764000, {}));
    EXPECT_EQ(header.formatTag, static_cast<std::int16_t>(0xFFFE));
    EXPECT_EQ(header.channels, 2);
    EXPECT_EQ(header.sampleRate, 88200);
    EXPECT_EQ(header.byteRate, 12345);
    EXPECT_EQ(header.blockAlign, 7);
    EXPECT_EQ(header.bitsPerSample, 16);
    EXPECT_EQ(header.dataSize, 1764000);
    EXPECT_EQ(checkWaveHeader(header), std::optional<JobError::Kind>{});
}

TEST(WaveHeader, TagsAreNeverLookedAt)
{
    std::vector<std::uint8_t> bytes = waveBytes(WaveFields{}, 8, {1, 2, 3, 4});
    for (const std::size_t offset : {0u, 8u, 12u, 36u}) {
        bytes[offset] = 'X';
    }
    EXPECT_EQ(checkWaveHeader(parse(bytes)), std::optional<JobError::Kind>{});
}

TEST(WaveHeader, ShortFilesReadAsZeroFilledAndFailTheStereoTest)
{
    const std::vector<std::uint8_t> full = waveBytes(WaveFields{}, 0, {});
    for (const std::size_t length : {0u, 1u, 22u, 23u, 43u}) {
        const std::vector<std::uint8_t> shortBytes(full.begin(), full.begin() + static_cast<long>(length));
        const WaveHeaderInfo header = parse(shortBytes);
        SCOPED_TRACE(length);
        EXPECT_EQ(header.dataSize, 0);
        if (length <= 22) {
            EXPECT_EQ(checkWaveHeader(header), JobError::Kind::NotStereo);
        }
    }
    // 43 bytes: stereo, 16-bit, 44.1 kHz, and the missing top byte of dataSize is zero.
    std::vector<std::uint8_t> almost = waveBytes(WaveFields{}, 0x7F123456, {});
    almost.pop_back();
    EXPECT_EQ(parse(almost).dataSize, 0x00123456);
}

struct DeriveCase {
    std::int32_t sampleRate;
    std::int32_t dataSize;
    std::int32_t samplesPerChannel;
    std::int32_t riffSize;
    double durationSeconds;
    std::int16_t rateFactor;
};

TEST(WaveHeader, DerivedValues)
{
    const DeriveCase cases[] = {
        {44100, 176400, 44100, 176436, 1.0, 1},
        {44100, 0, 0, 36, 0.0, 1},
        {44100, 1, 0, 37, 0.0, 1},
        {44100, 2, 0, 38, 0.0, 1},
        {44100, 3, 1, 39, 1.0 / 44100, 1},
        {44100, 6, 2, 42, 2.0 / 44100, 1},
        {44100, 10, 2, 46, 2.0 / 44100, 1},
        {44100, 14, 4, 50, 4.0 / 44100, 1},
        {88200, 4 * 88200 * 3, 88200 * 3, 4 * 88200 * 3 + 36, 3.0, 2},
        {176400, 5, 1, 41, 1.0 / 176400, 4},
        // riffSize wraps as the 32-bit field it is.
        {44100, 0x7FFFFFFF, 536870912, static_cast<std::int32_t>(0x80000023u), 536870912.0 / 44100, 1},
    };
    for (const DeriveCase& expected : cases) {
        WaveFields fields;
        fields.sampleRate = expected.sampleRate;
        const WaveHeaderInfo fieldsRead = parse(waveBytes(fields, expected.dataSize, {}));
        ASSERT_EQ(checkWaveHeader(fieldsRead), std::optional<JobError::Kind>{});
        const AcceptedHeader header = acceptWaveHeader(fieldsRead);
        SCOPED_TRACE(expected.dataSize);
        EXPECT_EQ(header.samplesPerChannel, expected.samplesPerChannel);
        EXPECT_EQ(header.riffSize, expected.riffSize);
        EXPECT_EQ(header.durationSeconds, expected.durationSeconds);
        EXPECT_EQ(header.rateFactor, expected.rateFactor);
    }
}

TEST(WaveHeader, ReadsFromAFileAndFailsForAMissingOne)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("take1.wav");
    testing::writeFileBytes(fileName, waveBytes(WaveFields{}, 8, {1, -2, 3, -4}));
    const std::optional<WaveHeaderInfo> header = readWaveHeader(fileName);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->dataSize, 8);
    EXPECT_FALSE(readWaveHeader(folder.path("missing.wav")).has_value());
}

std::vector<std::uint8_t> canonicalTwin()
{
    return riffStart().chunk("fmt ", fmtBody(16)).chunk("data", audioBytes()).bytes;
}

struct Loaded {
    WaveHeaderInfo header;
    std::vector<std::int16_t> samples;
    std::array<std::uint8_t, waveHeaderSizeInBytes> outputHeader{};
};

Loaded loadFile(const std::vector<std::uint8_t>& bytes)
{
    testing::ScratchFolder folder;
    const std::string fileName = folder.path("in.wav");
    testing::writeFileBytes(fileName, bytes);
    Loaded loaded;
    const std::optional<WaveHeaderInfo> header = readWaveHeader(fileName);
    EXPECT_TRUE(header.has_value());
    loaded.header = header.value_or(WaveHeaderInfo{});
    if (checkWaveHeader(loaded.header)) {
        return loaded;
    }
    const AcceptedHeader accepted = acceptWaveHeader(loaded.header);
    loaded.header = accepted;
    loaded.samples.resize(2 * static_cast<std::size_t>(accepted.samplesPerChannel));
    EXPECT_EQ(loadSamples(fileName, accepted, loaded.samples), LoadResult::Loaded);
    loaded.outputHeader = clippedWavHeader(accepted);
    return loaded;
}

void expectSameHeader(const WaveHeaderInfo& actual, const WaveHeaderInfo& expected)
{
    EXPECT_EQ(actual.formatTag, expected.formatTag);
    EXPECT_EQ(actual.channels, expected.channels);
    EXPECT_EQ(actual.sampleRate, expected.sampleRate);
    EXPECT_EQ(actual.byteRate, expected.byteRate);
    EXPECT_EQ(actual.blockAlign, expected.blockAlign);
    EXPECT_EQ(actual.bitsPerSample, expected.bitsPerSample);
    EXPECT_EQ(actual.dataSize, expected.dataSize);
}

TEST(WaveLayouts, ReadAsTheirCanonicalTwin)
{
    const std::vector<std::uint8_t> audio = audioBytes();
    std::vector<std::uint8_t> audioThenStray = audio;
    audioThenStray.insert(audioThenStray.end(), {0x11, 0x22, 0x33}); // not a whole frame
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } layouts[] = {
        {"JUNK first",
         riffStart().chunk("JUNK", filler(28)).chunk("fmt ", fmtBody(16)).chunk("data", audio).bytes},
        {"bext and iXML first", riffStart()
                                    .chunk("bext", filler(602))
                                    .chunk("iXML", filler(41))
                                    .chunk("fmt ", fmtBody(16))
                                    .chunk("data", audio)
                                    .bytes},
        {"LIST between fmt and data",
         riffStart().chunk("fmt ", fmtBody(16)).chunk("LIST", filler(26)).chunk("data", audio).bytes},
        {"18-byte fmt with fact",
         riffStart().chunk("fmt ", fmtBody(18)).chunk("fact", filler(4)).chunk("data", audio).bytes},
        {"extensible fmt with fact",
         riffStart().chunk("fmt ", fmtBody(40, 0xFFFE)).chunk("fact", filler(4)).chunk("data", audio).bytes},
        {"odd chunk and its pad before data",
         riffStart().chunk("fmt ", fmtBody(16)).chunk("cue ", filler(7)).chunk("data", audio).bytes},
        {"data before fmt", riffStart().chunk("data", audio).chunk("fmt ", fmtBody(16)).bytes},
        {"chunks after data", riffStart()
                                  .chunk("JUNK", filler(4))
                                  .chunk("fmt ", fmtBody(16))
                                  .chunk("data", audio)
                                  .chunk("smpl", filler(60))
                                  .chunk("id3 ", filler(9))
                                  .bytes},
        {"fmt too short, then a real one",
         riffStart().chunk("fmt ", filler(14)).chunk("fmt ", fmtBody(16)).chunk("data", audio).bytes},
        {"unknown sizes, written to a pipe", riffStart("RIFF", 0xFFFFFFFF)
                                                 .chunk("fmt ", fmtBody(16))
                                                 .chunk("LIST", filler(26))
                                                 .tag("data")
                                                 .uint32(0xFFFFFFFF)
                                                 .raw(audioThenStray)
                                                 .bytes},
        {"unknown sizes, canonical layout", riffStart("RIFF", 0xFFFFFFFF)
                                                .chunk("fmt ", fmtBody(16))
                                                .tag("data")
                                                .uint32(0xFFFFFFFF)
                                                .raw(audioThenStray)
                                                .bytes},
        {"RF64 with ds64", riffStart("RF64", 0xFFFFFFFF)
                               .chunk("ds64", ds64Body(twinDataSize))
                               .chunk("fmt ", fmtBody(16))
                               .tag("data")
                               .uint32(0xFFFFFFFF)
                               .raw(audio)
                               .chunk("LIST", filler(10))
                               .bytes},
    };
    const Loaded twin = loadFile(canonicalTwin());
    ASSERT_EQ(twin.header.dataSize, static_cast<std::int32_t>(twinDataSize));
    ASSERT_EQ(twin.samples, twinAudio);
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const Loaded loaded = loadFile(layout.bytes);
        expectSameHeader(loaded.header, twin.header);
        EXPECT_EQ(loaded.samples, twin.samples);
        EXPECT_EQ(loaded.outputHeader, twin.outputHeader);
        // Batch mode reads the same frames and builds the same output from them.
        const BatchInput batch = std::get<BatchInput>(readBatchInput(MemoryByteSource(layout.bytes)));
        EXPECT_EQ(batch.frameCount, twinAudio.size() / 2);
        EXPECT_EQ(batch.dataOffset, loaded.header.dataOffset);
        expectSameHeader(batch.header, twin.header);
    }
}

TEST(WaveLayouts, OtherExtensibleSubFormatsKeepTheirTag)
{
    std::vector<std::uint8_t> floatFmt = fmtBody(40, 0xFFFE);
    floatFmt[24] = 0x03; // IEEE float
    const Loaded loaded = loadFile(riffStart().chunk("fmt ", floatFmt).chunk("data", audioBytes()).bytes);
    EXPECT_EQ(loaded.header.formatTag, static_cast<std::int16_t>(0xFFFE));
}

TEST(WaveLayouts, HostileSizesFallBackOrAreRefused)
{
    const std::vector<std::uint8_t> audio = audioBytes();
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool fixedOffsets; // falls back to the canonical positions
        std::optional<JobError::Kind> check;
    } cases[] = {
        {"chunk runs past the end", riffStart().tag("JUNK").uint32(0x7FFFFFF0).raw(fmtBody(16)).raw(audio).bytes,
         true, JobError::Kind::TooLarge},
        {"sizes near 2^32 before fmt", riffStart().tag("JUNK").uint32(0xFFFFFFFE).raw(filler(40)).bytes, true,
         JobError::Kind::NotStereo},
        {"fmt size near 2^32", riffStart().tag("fmt ").uint32(0xFFFFFFFF).raw(fmtBody(16)).raw(audio).bytes, true,
         JobError::Kind::TooLarge},
        {"data size near 2^32",
         riffStart()
             .chunk("fmt ", fmtBody(16))
             .chunk("LIST", filler(4))
             .tag("data")
             .uint32(0xFFFFFFFE)
             .raw(audio)
             .bytes,
         false, JobError::Kind::TooLarge},
        {"no data chunk", riffStart().chunk("JUNK", filler(4)).chunk("fmt ", fmtBody(16)).bytes, true,
         JobError::Kind::NotStereo},
        {"ends inside a chunk header",
         riffStart().chunk("fmt ", fmtBody(18)).chunk("LIST", filler(6)).tag("dat").bytes, true, std::nullopt},
        {"RF64 of 2 GiB",
         riffStart("RF64", 0xFFFFFFFF)
             .chunk("ds64", ds64Body(std::uint64_t{1} << 31))
             .chunk("fmt ", fmtBody(16))
             .tag("data")
             .uint32(0xFFFFFFFF)
             .raw(audio)
             .bytes,
         false, JobError::Kind::TooLarge},
        {"RF64 beyond 4 GiB",
         riffStart("RF64", 0xFFFFFFFF)
             .chunk("ds64", ds64Body(std::uint64_t{5} << 32))
             .chunk("fmt ", fmtBody(16))
             .tag("data")
             .uint32(0xFFFFFFFF)
             .raw(audio)
             .bytes,
         false, JobError::Kind::TooLarge},
        {"thousands of empty chunks",
         riffStart()
             .raw(std::vector<std::uint8_t>(8 * 5000, 0))
             .chunk("fmt ", fmtBody(16))
             .chunk("data", audio)
             .bytes,
         true, JobError::Kind::NotStereo},
    };
    for (const auto& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        const std::optional<WaveHeaderInfo> header = readWaveHeader(MemoryByteSource(hostile.bytes));
        ASSERT_TRUE(header.has_value());
        if (hostile.fixedOffsets) {
            expectSameHeader(*header, parseWaveHeader(hostile.bytes));
            EXPECT_EQ(header->dataOffset, waveHeaderSizeInBytes);
        }
        EXPECT_EQ(checkWaveHeader(*header), hostile.check);
    }
}

// Counts what is read: bodies before the audio are skipped, not read.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(std::span<const std::uint8_t> bytes) : memory_(bytes) {}
    std::uint64_t size() const override { return memory_.size(); }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const override
    {
        bytesRead += buffer.size();
        return memory_.readAt(offset, buffer);
    }
    mutable std::size_t bytesRead = 0;

private:
    MemoryByteSource memory_;
};

TEST(WaveLayouts, LargeChunksBeforeTheAudioAreSkipped)
{
    const std::vector<std::uint8_t> bytes = riffStart()
                                                .chunk("LIST", filler(8 << 20))
                                                .chunk("fmt ", fmtBody(16))
                                                .chunk("id3 ", filler(3 << 20))
                                                .chunk("data", audioBytes())
                                                .bytes;
    const CountingSource source(bytes);
    const std::optional<WaveHeaderInfo> header = readWaveHeader(source);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->dataSize, static_cast<std::int32_t>(twinDataSize));
    EXPECT_EQ(header->dataOffset, bytes.size() - twinDataSize);
    EXPECT_LT(source.bytesRead, 200u);
}

} // namespace
} // namespace tarvelle
