#include "report/clip_report.hpp"

#include "clip/peak_clip.hpp"
#include "report/number_text.hpp"

#include <array>
#include <string_view>

namespace tarvelle {

namespace {

constexpr std::string_view lineEnd = "\r\n";

constexpr std::array<std::string_view, eventLengthBinCount> binLabels = {
    "Events <25us:             ", "Events 25us to <50us:     ", "Events 50us to <100us:    ",
    "Events 100us to <200us:   ", "Events 200us to <400us:   ", "Events 400us to <800us:   ",
    "Events 800us to <1.6ms:   ", "Events 1.6ms to <3.2ms:   ", "Events 3.2ms to <6.4ms:   ",
    "Events 6.4ms to <12.8ms:  ", "Events >=12.8ms:          ",
};

void appendLine(std::string& text, std::string_view line)
{
    text += line;
    text += lineEnd;
}

void appendNumberLine(std::string& text, std::string_view label, Extended value, std::string_view unit = {})
{
    text += label;
    text += formatNumber(value);
    text += unit;
    text += lineEnd;
}

void appendChannelBlock(std::string& text, std::string_view heading, const ChannelClipStats& channel,
                        double durationSeconds)
{
    const Extended clippedSamples = extendedFromInt32(channel.clippedSamples);
    const Extended clipEvents = extendedFromInt32(channel.clipEvents);
    const ChannelFigures figures = channelFigures(channel, durationSeconds);
    // A NaN prints as 0.
    const Extended averageEventLength = roundToPlaces(figures.averageEventLength, 0);
    const Extended eventsPerSecond = roundToPlaces(figures.eventsPerSecond, 2);

    appendLine(text, heading);
    appendLine(text, "");
    appendNumberLine(text, "Clipped samples:          ", clippedSamples);
    appendNumberLine(text, "Clipping events:          ", clipEvents);
    appendNumberLine(text, "Average event length:     ", averageEventLength, "samples");
    appendNumberLine(text, "Average events/second:    ", eventsPerSecond);
    appendLine(text, "");
    for (std::size_t bin = 0; bin < binLabels.size(); ++bin) {
        appendNumberLine(text, binLabels[bin], extendedFromInt32(channel.eventLengthBins[bin]));
    }
}

// Lines 1 to 7, and the sample format's line for a file that is not classic.
void appendHeading(std::string& text, const std::string& inputFileName, std::int32_t sampleRate,
                   Extended samplesPerChannel, double durationSeconds, int clipLevel, std::string_view formatText)
{
    appendLine(text, inputFileName);
    appendLine(text, "");
    appendNumberLine(text, "Sample rate:         ", extendedFromInt32(sampleRate), "Hz");
    if (!formatText.empty()) {
        // The text sits where a number's digits start.
        text += "Sample format:        ";
        appendLine(text, formatText);
    }
    appendNumberLine(text, "Samples per channel: ", samplesPerChannel);
    appendNumberLine(text, "Duration:            ", roundToPlaces(extendedFromDouble(durationSeconds), 2),
                     "seconds");
    appendLine(text, "");
    appendNumberLine(text, "Clipping level:      ", extendedFromInt32(decibelsBelowPeak(clipLevel)),
                     "dB below peak");
}

} // namespace

ChannelFigures channelFigures(const ChannelClipStats& channel, double durationSeconds)
{
    const Extended clipEvents = extendedFromInt32(channel.clipEvents);
    return ChannelFigures{divide(extendedFromInt32(channel.clippedSamples), clipEvents),
                          divide(clipEvents, extendedFromDouble(durationSeconds))};
}

std::string clipReportText(const std::string& inputFileName, const WaveHeaderInfo& header, int clipLevel,
                           const ChannelClipStats& left, const ChannelClipStats& right)
{
    std::string text;
    appendHeading(text, inputFileName, header.sampleRate, extendedFromInt32(header.samplesPerChannel),
                  header.durationSeconds, clipLevel, {});
    appendLine(text, "");
    appendLine(text, "");
    appendChannelBlock(text, "LEFT CHANNEL", left, header.durationSeconds);
    appendLine(text, "");
    appendLine(text, "");
    appendChannelBlock(text, "RIGHT CHANNEL", right, header.durationSeconds);
    return text;
}

std::string clipReportText(const std::string& inputFileName, const SampleFormat& format, std::uint64_t frameCount,
                           int clipLevel, std::span<const ChannelClipStats> channels)
{
    const double durationSeconds = static_cast<double>(frameCount) / format.sampleRate;
    std::string text;
    appendHeading(text, inputFileName, format.sampleRate, extendedFromUint64(frameCount), durationSeconds,
                  clipLevel, isClassicFormat(format) ? std::string_view{} : sampleFormatText(format.encoding));
    for (std::size_t index = 0; index < channels.size(); ++index) {
        appendLine(text, "");
        appendLine(text, "");
        const std::string heading = channels.size() == 2 ? (index == 0 ? "LEFT CHANNEL" : "RIGHT CHANNEL")
                                                         : "CHANNEL " + std::to_string(index + 1);
        appendChannelBlock(text, heading, channels[index], durationSeconds);
    }
    return text;
}

} // namespace tarvelle
