#include "report/labels.hpp"

#include "clip/peak_clip.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace tarvelle {

namespace {

constexpr std::int64_t microsecondsPerSecond = 1'000'000;

// Integer arithmetic throughout, so that times are exact and alike on every
// platform; the remainder's product stays far inside 64 bits.
void appendSeconds(std::string& bytes, std::int64_t frame, std::int32_t sampleRate)
{
    std::int64_t seconds = frame / sampleRate;
    std::int64_t microseconds = (frame % sampleRate * microsecondsPerSecond + sampleRate / 2) / sampleRate;
    if (microseconds == microsecondsPerSecond) {
        ++seconds;
        microseconds = 0;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(seconds),
                  static_cast<long long>(microseconds));
    bytes += text;
}

std::string samplesText(std::int64_t count)
{
    return std::to_string(count) + (count == 1 ? " sample" : " samples");
}

std::string decibelText(double value, const char* format)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::int64_t total(const std::vector<std::int64_t>& perChannel)
{
    return std::accumulate(perChannel.begin(), perChannel.end(), std::int64_t{0});
}

// " (L 7, R 5)": the channels with any.
std::string perChannelText(const std::vector<std::int64_t>& perChannel, std::uint32_t channelMask)
{
    const int channelCount = static_cast<int>(perChannel.size());
    std::string text;
    for (int channel = 0; channel < channelCount; ++channel) {
        if (perChannel[static_cast<std::size_t>(channel)] != 0) {
            text += (text.empty() ? " (" : ", ") + channelName(channel, channelCount, channelMask) + ' ' +
                    std::to_string(perChannel[static_cast<std::size_t>(channel)]);
        }
    }
    return text + ")";
}

std::string dbfsText(double level, double fullScale, const char* format)
{
    return decibelText(levelDbfs(std::fabs(level), fullScale).value_or(0.0), format) + " dBFS";
}

// Both sides at one level in the line's precision are one ceiling.
std::string ceilingText(const ExistingClipResult& clipping, double fullScale)
{
    const std::optional<std::string> positive =
        clipping.positiveCeiling ? std::optional(dbfsText(*clipping.positiveCeiling, fullScale, "%.2f"))
                                 : std::nullopt;
    const std::optional<std::string> negative =
        clipping.negativeCeiling ? std::optional(dbfsText(*clipping.negativeCeiling, fullScale, "%.2f"))
                                 : std::nullopt;
    if (positive && negative) {
        return *positive == *negative
                   ? "the file's ceiling of " + *positive
                   : "the file's ceilings of " + *positive + " (positive) and " + *negative + " (negative)";
    }
    return positive ? "the file's positive ceiling of " + *positive
                    : "the file's negative ceiling of " + *negative;
}

std::string runsText(std::int64_t count)
{
    return std::to_string(count) + (count == 1 ? " run" : " runs");
}

std::string clippedLine(std::string_view name, const ExistingClipResult& clipping, double fullScale,
                        std::int32_t sampleRate, std::uint32_t channelMask)
{
    std::string line(name);
    line += ": clipped: ";
    if (const std::int64_t runs = total(clipping.fullScaleRuns); runs != 0) {
        line += runsText(runs) + " at full scale" + perChannelText(clipping.fullScaleRuns, channelMask);
    }
    if (const std::int64_t runs = total(clipping.ceilingRuns); runs != 0) {
        line += (line.back() == ')' ? ", " : "") + runsText(runs) + " at " + ceilingText(clipping, fullScale) +
                perChannelText(clipping.ceilingRuns, channelMask);
    }
    line += ", longest " + samplesText(clipping.longest->length) + " in " +
            channelName(clipping.longest->channel, static_cast<int>(clipping.fullScaleRuns.size()), channelMask) + " at " +
            frameTime(clipping.longest->startFrame, sampleRate);
    return line;
}

} // namespace

std::string channelName(int channel, int channelCount, std::uint32_t channelMask)
{
    // The speaker bits in their order in the mask; the rear pair are the
    // surrounds unless the file has side speakers as well.
    static constexpr std::array<std::string_view, 18> speakers = {"L",   "R",   "C",   "LFE", "Ls",  "Rs",
                                                                  "Lc",  "Rc",  "Cs",  "Ls",  "Rs",  "Tc",
                                                                  "Ltf", "Ctf", "Rtf", "Ltr", "Ctr", "Rtr"};
    constexpr std::uint32_t sidePair = 0x600;
    if (channelMask == 0 && channelCount == 2) {
        return channel == 0 ? "L" : "R";
    }
    int speaker = 0;
    for (int bit = 0; bit < 32; ++bit) {
        if ((channelMask >> bit & 1U) == 0) {
            continue;
        }
        if (speaker++ < channel) {
            continue;
        }
        if (bit >= static_cast<int>(speakers.size())) {
            break;
        }
        if ((bit == 4 || bit == 5) && (channelMask & sidePair) != 0) {
            return bit == 4 ? "Lrs" : "Rrs";
        }
        return std::string(speakers[static_cast<std::size_t>(bit)]);
    }
    return "CH" + std::to_string(channel + 1);
}

void appendLabel(std::string& bytes, const LabelEvent& event, int channelCount, std::int32_t sampleRate,
                 std::uint32_t channelMask)
{
    appendSeconds(bytes, event.startFrame, sampleRate);
    bytes += '\t';
    appendSeconds(bytes, event.startFrame + event.length, sampleRate);
    bytes += '\t';
    bytes += channelName(event.channel, channelCount, channelMask);
    bytes += ' ';
    bytes += samplesText(event.length);
    bytes += event.overFullScale ? " over full scale\n" : "\n";
}

std::string frameTime(std::int64_t frame, std::int32_t sampleRate)
{
    const std::int64_t seconds = frame / sampleRate;
    const std::int64_t milliseconds = frame % sampleRate * 1000 / sampleRate;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long long>(milliseconds));
    return text;
}

std::vector<std::string> checkLines(std::string_view name, const ExistingClipResult& clipping, double fullScale,
                                    std::int32_t sampleRate, std::optional<TruePeakLimit> truePeakLimit,
                                    std::uint32_t channelMask)
{
    std::vector<std::string> lines;
    lines.push_back(clipping.longest ? clippedLine(name, clipping, fullScale, sampleRate, channelMask)
                                     : std::string(name) + ": no clipping");
    if (const std::int64_t overs = total(clipping.overSamples); overs != 0) {
        lines.push_back(std::string(name) + ": overs above full scale: " + samplesText(overs) + ", highest " +
                        dbfsText(*clipping.highestOver, fullScale, "%+.2f"));
    }
    if (truePeakLimit) {
        const int channelCount = static_cast<int>(truePeakLimit->truePeakDbtp.size());
        std::string line;
        for (int channel = 0; channel < channelCount; ++channel) {
            const double peak = truePeakLimit->truePeakDbtp[static_cast<std::size_t>(channel)];
            if (peak > truePeakLimit->limitDbtp) {
                line += (line.empty() ? "" : ", ") + channelName(channel, channelCount, channelMask) + ' ' +
                        decibelText(peak, "%+.2f") + " dBTP";
            }
        }
        if (!line.empty()) {
            lines.push_back(std::string(name) + ": true peak over the " +
                            decibelText(truePeakLimit->limitDbtp, "%.2f") + " dBTP limit: " + line);
            if (!clipping.longest) {
                lines.erase(lines.begin());
            }
        }
    }
    return lines;
}

} // namespace tarvelle
