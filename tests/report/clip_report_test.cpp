#include "report/clip_report.hpp"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <vector>

namespace tarvelle {
namespace {

std::string withCrLf(const std::string& text)
{
    std::string converted;
    for (const char character : text) {
        if (character == '\n') {
            converted += '\r';
        }
        converted += character;
    }
    return converted;
}

AcceptedHeader acceptedHeader(std::int32_t sampleRate, std::int32_t samplesPerChannel)
{
    WaveHeaderInfo header;
    header.channels = 2;
    header.bitsPerSample = 16;
    header.sampleRate = sampleRate;
    header.dataSize = 4 * samplesPerChannel;
    return acceptWaveHeader(header);
}

std::vector<std::string> reportLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "bytes after the last CR LF";
    return lines;
}

const char* const take1Report = R"(C:\Audio\take1.wav

Sample rate:          44100 Hz
Samples per channel:  100000 
Duration:             2.27 seconds

Clipping level:       3 dB below peak


LEFT CHANNEL

Clipped samples:           10 
Clipping events:           4 
Average event length:      2 samples
Average events/second:     1.76 

Events <25us:              1 
Events 25us to <50us:      1 
Events 50us to <100us:     2 
Events 100us to <200us:    0 
Events 200us to <400us:    0 
Events 400us to <800us:    0 
Events 800us to <1.6ms:    0 
Events 1.6ms to <3.2ms:    0 
Events 3.2ms to <6.4ms:    0 
Events 6.4ms to <12.8ms:   0 
Events >=12.8ms:           0 


RIGHT CHANNEL

Clipped samples:           0 
Clipping events:           0 
Average event length:      0 samples
Average events/second:     0 

Events <25us:              0 
Events 25us to <50us:      0 
Events 50us to <100us:     0 
Events 100us to <200us:    0 
Events 200us to <400us:    0 
Events 400us to <800us:    0 
Events 800us to <1.6ms:    0 
Events 1.6ms to <3.2ms:    0 
Events 3.2ms to <6.4ms:    0 
Events 6.4ms to <12.8ms:   0 
Events >=12.8ms:           0 
)";

ChannelClipStats take1Left()
{
    ChannelClipStats left;
    left.clippedSamples = 10;
    left.clipEvents = 4;
    left.eventLengthBins = {1, 1, 2};
    return left;
}

TEST(ClipReportText, AWholeReportByteForByte)
{
    const AcceptedHeader header = acceptedHeader(44100, 100000);
    ASSERT_EQ(header.durationSeconds, 2.2675736961451247);
    const std::string text = clipReportText("C:\\Audio\\take1.wav", header, 0, take1Left(), ChannelClipStats{});
    EXPECT_EQ(text, withCrLf(take1Report));
    EXPECT_EQ(reportLines(text).size(), 47u);
    // The report of any format gives a classic file the same bytes.
    const std::array<ChannelClipStats, 2> channels{take1Left(), ChannelClipStats{}};
    EXPECT_EQ(clipReportText("C:\\Audio\\take1.wav", SampleFormat{}, 100000, 0, channels), text);
}

TEST(ClipReportText, AnyFormatAndChannelCount)
{
    const SampleFormat format{SampleEncoding::Float32, 3, 4, 32, 96000, 0, true};
    const std::vector<ChannelClipStats> channels(3, take1Left());
    const std::vector<std::string> lines =
        reportLines(clipReportText("x.wav", format, 5'000'000'000, 2, channels));
    ASSERT_EQ(lines.size(), 8 + 20 * channels.size());
    EXPECT_EQ(lines[3], "Sample format:        32-bit float");
    EXPECT_EQ(lines[4], "Samples per channel:  5000000000 ");
    for (std::size_t channel = 0; channel < channels.size(); ++channel) {
        EXPECT_EQ(lines[10 + 20 * channel], "CHANNEL " + std::to_string(channel + 1));
        EXPECT_EQ(lines[13 + 20 * channel], "Clipping events:           4 ");
    }
}

struct LineCase {
    const char* name;
    std::int32_t sampleRate;
    std::int32_t samplesPerChannel;
    int clipLevel;
    std::int32_t clippedSamples;
    std::int32_t clipEvents;
    const char* duration;        // line 5
    const char* level;           // line 7
    const char* average;         // line 14
    const char* eventsPerSecond; // line 15
};

TEST(ClipReportText, NumbersOnTheirLines)
{
    const LineCase cases[] = {
        {"No samples", 44100, 0, 0, 0, 0, "Duration:             0 seconds",
         "Clipping level:       3 dB below peak", "Average event length:      0 samples",
         "Average events/second:     0 "},
        {"Whole seconds", 44100, 3 * 44100, 5, 5, 2, "Duration:             3 seconds",
         "Clipping level:       18 dB below peak", "Average event length:      2 samples",
         "Average events/second:     .67 "},
        {"Below one second", 88200, 4410, 3, 7, 2, "Duration:             .05 seconds",
         "Clipping level:       12 dB below peak", "Average event length:      4 samples",
         "Average events/second:     40 "},
        {"Rounds to zero", 176400, 705, 4, 1, 1, "Duration:             0 seconds",
         "Clipping level:       15 dB below peak", "Average event length:      1 samples",
         "Average events/second:     250.21 "},
        {"Twelve and a half", 44100, 551250, 1, 2500000, 1000000, "Duration:             12.5 seconds",
         "Clipping level:       6 dB below peak", "Average event length:      2 samples",
         "Average events/second:     80000 "},
    };
    for (const LineCase& lineCase : cases) {
        SCOPED_TRACE(lineCase.name);
        ChannelClipStats right;
        right.clippedSamples = lineCase.clippedSamples;
        right.clipEvents = lineCase.clipEvents;
        right.eventLengthBins[0] = lineCase.clipEvents;
        const AcceptedHeader header = acceptedHeader(lineCase.sampleRate, lineCase.samplesPerChannel);
        const std::vector<std::string> lines =
            reportLines(clipReportText("x.wav", header, lineCase.clipLevel, ChannelClipStats{}, right));
        ASSERT_EQ(lines.size(), 47u);
        EXPECT_EQ(lines[4], lineCase.duration);
        EXPECT_EQ(lines[6], lineCase.level);
        EXPECT_EQ(lines[29], "RIGHT CHANNEL");
        EXPECT_EQ(lines[33], lineCase.average);
        EXPECT_EQ(lines[34], lineCase.eventsPerSecond);
        EXPECT_EQ(lines[13], "Average event length:      0 samples");
    }
}

} // namespace
} // namespace tarvelle
