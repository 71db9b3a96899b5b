#include "report/clip_report.hpp"

#include "clip/peak_clip.hpp"
#include "numbers/number_text.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace tarvelle {

namespace {

constexpr std::string_view lineEnd = "\r\n";

// Every label of a channel block is padded to this many characters.
constexpr std::size_t channelLabelWidth = 26;

// Counts are never negative.
Extended extendedFromCount(std::int64_t count)
{
    return extendedFromUint64(static_cast<std::uint64_t>(count));
}

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
    const Extended clippedSamples = extendedFromCount(channel.clippedSamples);
    const Extended clipEvents = extendedFromCount(channel.clipEvents);
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
    for (std::size_t bin = 0; bin < eventLengthBinLabels.size(); ++bin) {
        std::string label = "Events ";
        label += eventLengthBinLabels[bin];
        label += ':';
        label.resize(std::max(label.size(), channelLabelWidth), ' ');
        appendNumberLine(text, label, extendedFromCount(channel.eventLengthBins[bin]));
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
    const Extended clipEvents = extendedFromCount(channel.clipEvents);
    return ChannelFigures{divide(extendedFromCount(channel.clippedSamples), clipEvents),
                          divide(clipEvents, extendedFromDouble(durationSeconds))};
}

std::string clipReportText(const std::string& inputFileName, const AcceptedHeader& header, int clipLevel,
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
                           int clipLevel, std::span<const ChannelClipStats> channels, std::string_view container)
{
    const double durationSeconds = static_cast<double>(frameCount) / format.sampleRate;
    std::string text;
    const bool classicWav = isClassicFormat(format) && container.empty();
    appendHeading(text, inputFileName, format.sampleRate, extendedFromUint64(frameCount), durationSeconds,
                  clipLevel, classicWav ? std::string{} : sampleFormatText(format.encoding, container));
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
