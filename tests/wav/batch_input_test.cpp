#include "wav/batch_input.hpp"

#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarvelle {
namespace {

using testing::audioBytes;
using testing::ds64Body;
using testing::filler;
using testing::fmtBody;
using testing::RiffBuilder;
using testing::riffStart;

// A fmt body of any format; 40 bytes with the extension when subFormat is given.
std::vector<std::uint8_t> formatBody(std::uint16_t tag, int channels, std::int32_t sampleRate, int blockAlign,
                                     int bits, std::optional<std::uint16_t> subFormat = {}, int validBits = 0)
{
    std::vector<std::uint8_t> body = fmtBody(subFormat ? 40 : 16, tag);
    std::vector<std::uint8_t> fields;
    for (const std::int32_t field :
         {channels, blockAlign, bits, validBits, static_cast<int>(subFormat.value_or(0))}) {
        testing::appendInt16(fields, field);
    }
    std::copy_n(fields.begin(), 2, body.begin() + 2);
    testing::appendInt32(fields, sampleRate);
    std::copy_n(fields.end() - 4, 4, body.begin() + 4);
    std::copy_n(fields.begin() + 2, 4, body.begin() + 12);
    if (subFormat) {
        std::copy_n(fields.begin() + 6, 2, body.begin() + 18);
        std::copy_n(fields.begin() + 8, 2, body.begin() + 24);
    }
    return body;
}

// One line for what batch mode makes of a file.
std::string describe(const std::variant<BatchInput, BatchRefused>& result)
{
    if (const auto* refused = std::get_if<BatchRefused>(&result)) {
        return refused->message;
    }
    const BatchInput& input = std::get<BatchInput>(result);
    const std::string text =
        std::string(sampleFormatKey(input.format.encoding)) + " x" + std::to_string(input.format.channels) +
        " at " + std::to_string(input.format.sampleRate) + ", valid " + std::to_string(input.format.validBits) +
        ": " + std::to_string(input.frameCount) + " frames from " + std::to_string(input.dataOffset);
    // A classic file as the dialogue reads it: samples per channel.
    const std::string classic =
        isClassicFormat(input.format)
            ? " (classic " + std::to_string(acceptWaveHeader(input.header).samplesPerChannel) + ")"
            : "";
    return input.warning.empty() ? text + classic : text + classic + "; " + input.warning;
}

TEST(BatchInput, WhatEachFileIs)
{
    const std::vector<std::uint8_t> audio = audioBytes(); // 12 bytes
    const auto stereo24 = formatBody(1, 2, 48000, 6, 24);
    const auto withFmt = [](const std::vector<std::uint8_t>& fmt) { return riffStart().chunk("fmt ", fmt); };
    const struct {
        std::vector<std::uint8_t> bytes;
        std::string expected;
    } cases[] = {
        {{}, "This is not a Wave file: it is empty"},
        {RiffBuilder{}.tag("Take 3, left mic\n").bytes, "This is not a Wave file"},
        {RiffBuilder{}.tag("ID3").raw(filler(40)).bytes, "This is an MP3 file, not a Wave file"},
        {RiffBuilder{}.tag("RIFX").uint32(100).tag("WAVE").raw(filler(40)).bytes,
         "This is a big-endian (RIFX) Wave file, which is not supported"},
        {withFmt(stereo24).chunk("LIST", filler(8)).bytes, "This Wave file has no data chunk"},
        {riffStart().chunk("data", audio).bytes, "This Wave file has no fmt chunk"},
        {withFmt(filler(14)).chunk("data", audio).bytes, "This Wave file's fmt chunk is too short (14 bytes)"},
        {withFmt(formatBody(0x11, 1, 22050, 256, 4)).chunk("data", audio).bytes,
         "This Wave file holds compressed audio (format tag 0x0011, IMA ADPCM)"},
        {withFmt(formatBody(0xFFFE, 1, 8000, 1, 8, 6, 8)).chunk("data", audio).bytes,
         "This Wave file holds compressed audio (format tag 0x0006, A-law)"},
        {withFmt(formatBody(1, 65, 48000, 130, 16)).chunk("data", audio).bytes,
         "This Wave file has 65 channels; 1 to 64 are supported"},
        {withFmt(formatBody(1, 1, 7999, 2, 16)).chunk("data", audio).bytes,
         "This Wave file's sample rate is 7999 Hz; 8000 to 768000 Hz are supported"},
        {withFmt(formatBody(1, 2, 48000, 8, 24)).chunk("data", audio).bytes,
         "This Wave file's block align is 8 bytes, but 2 channels of 3 bytes make 6"},
        {withFmt(formatBody(1, 1, 8000, 2, 12)).chunk("data", audio).bytes,
         "int16 x1 at 8000, valid 12: 6 frames from 44"},
        {withFmt(formatBody(0xFFFE, 2, 96000, 6, 24, 1, 20)).chunk("data", audio).bytes,
         "int24 x2 at 96000, valid 20: 2 frames from 68"},
        {withFmt(formatBody(0xFFFE, 6, 768000, 48, 64, 3, 64)).chunk("data", filler(96)).bytes,
         "float64 x6 at 768000, valid 64: 2 frames from 68"},
        // Today's reading whatever the block align says, and of a size that
        // is no whole number of frames: the dialogue's rounding, 15 / 4 to 4.
        {withFmt(formatBody(1, 2, 44100, 7, 16)).chunk("data", audio).bytes,
         "int16 x2 at 44100, valid 16: 3 frames from 44 (classic 3)"},
        {withFmt(formatBody(1, 2, 88200, 4, 16)).chunk("data", filler(15)).chunk("LIST", filler(4)).bytes,
         "int16 x2 at 88200, valid 16: 3 frames from 44 (classic 4)"},
        // But never a tag that is not PCM, at the classic rates as at any other.
        {withFmt(formatBody(0x55, 2, 44100, 7, 16)).chunk("data", audio).bytes,
         "This Wave file holds compressed audio (format tag 0x0055, MPEG Layer 3)"},
        {withFmt(formatBody(0xFFFE, 2, 176400, 4, 16, 0x2000, 16)).chunk("data", audio).bytes,
         "This Wave file holds compressed audio (format tag 0x2000, AC-3)"},
        {withFmt(formatBody(3, 2, 88200, 4, 16)).chunk("data", audio).bytes,
         "This Wave file has 16-bit float samples (16 valid bits), which are not supported"},
        {withFmt(formatBody(1, 1, 8000, 2, 16)).tag("data").uint32(0xFFFFFFFF).raw(filler(14561)).bytes,
         "int16 x1 at 8000, valid 16: 7280 frames from 44; the header does not give the data size; read to the "
         "end "
         "of the file: 0.91 s"},
        {withFmt(stereo24).tag("data").uint32(0).raw(audio).bytes,
         "int24 x2 at 48000, valid 24: 2 frames from 44; The data chunk's size is 0 but 12 bytes follow it: read "
         "as 2 "
         "whole frames"},
        {withFmt(stereo24).chunk("data", {}).chunk("LIST", filler(4)).bytes,
         "int24 x2 at 48000, valid 24: 0 frames from 44"},
        {withFmt(stereo24).tag("data").uint32(0x7FFFF000).raw(audio).raw({1, 2, 3}).bytes,
         "int24 x2 at 48000, valid 24: 2 frames from 44; The data chunk's header gives 2147479552 bytes but the "
         "file "
         "holds 15: read as 2 whole frames"},
        {riffStart("RF64", 0xFFFFFFFF)
             .chunk("ds64", ds64Body(6))
             .chunk("fmt ", stereo24)
             .tag("data")
             .uint32(0xFFFFFFFF)
             .raw(audio)
             .bytes,
         "int24 x2 at 48000, valid 24: 1 frames from 80"},
    };
    for (const auto& file : cases) {
        EXPECT_EQ(describe(readBatchInput(MemoryByteSource(file.bytes))), file.expected);
    }
}

} // namespace
} // namespace tarvelle
