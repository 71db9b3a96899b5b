#include "engine/delivery.hpp"

#include "engine/job_result.hpp"
#include "report/labels.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <span>

namespace tarvelle {

namespace {

std::string formatted(const char* format, double first, double second = 0.0, double third = 0.0)
{
    char text[160];
    std::snprintf(text, sizeof text, format, first, second, third);
    return text;
}

// "right channel", "channel C".
std::string channelWords(int channel, const JobResult& result)
{
    const std::string name = channelName(channel, result.format.channels, result.format.channelMask);
    return name == "L" ? "left channel" : name == "R" ? "right channel" : "channel " + name;
}

std::string channelNameOnly(int channel, const JobResult& result)
{
    const std::string words = channelWords(channel, result);
    return words.ends_with(" channel") ? words.substr(0, words.size() - 8) : words;
}

DeliveryCheck check(std::string name, std::optional<double> value, std::optional<double> limit, bool pass,
                    std::string failure)
{
    DeliveryCheck made;
    made.name = std::move(name);
    made.value = value;
    made.limit = limit;
    made.pass = pass;
    if (!pass) {
        made.failure = std::move(failure);
    }
    return made;
}

std::optional<double> finiteOrNone(double value)
{
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

void judgeLoudness(const DeliveryProfile& profile, const LoudnessResult& loudness,
                   std::vector<DeliveryCheck>& checks)
{
    if (profile.targetLufs) {
        const double target = *profile.targetLufs;
        const std::optional<double> measured = loudness.integratedLufs;
        // Compared as the line shows it, so a file shown at the edge passes.
        const bool pass =
            measured && std::fabs(std::round(*measured * 10.0) / 10.0 - target) <= profile.toleranceLu + 1e-9;
        DeliveryCheck integrated =
            check("integrated", measured, target, pass,
                  measured ? formatted("%.1f LUFS", *measured) + " (target " + limitText(target) + " ±" +
                                 limitText(profile.toleranceLu) + ")"
                           : "no integrated loudness (" + loudness.noIntegratedReason + ")");
        integrated.tolerance = profile.toleranceLu;
        checks.push_back(std::move(integrated));
    }
    if (profile.maxTruePeakDbtp) {
        const std::optional<double> peak = finiteOrNone(loudness.truePeakDbtpOverall);
        checks.push_back(check(
            "true-peak", peak, profile.maxTruePeakDbtp, !peak || *peak <= *profile.maxTruePeakDbtp,
            peak ? formatted("true peak %+.1f dBTP", *peak) + " (max " + limitText(*profile.maxTruePeakDbtp) + ")"
                 : ""));
    }
    if (profile.maxShortTermLufs) {
        const std::optional<LoudestMoment>& loudest = loudness.maxShortTerm;
        checks.push_back(
            check("short-term", loudest ? std::optional<double>(loudest->lufs) : std::nullopt,
                  profile.maxShortTermLufs, !loudest || loudest->lufs <= *profile.maxShortTermLufs,
                  loudest ? formatted("short-term max %.1f LUFS at %.1f s", loudest->lufs, loudest->atSeconds) +
                                " (max " + limitText(*profile.maxShortTermLufs) + ")"
                          : ""));
    }
    if (profile.maxLraLu) {
        const std::optional<double> range = loudness.loudnessRange;
        checks.push_back(
            check("lra", range, profile.maxLraLu, !range || *range <= *profile.maxLraLu,
                  range ? formatted("LRA %.1f LU", *range) + " (max " + limitText(*profile.maxLraLu) + ")" : ""));
    }
    if (profile.minPlrLu) {
        const std::optional<double> plr = loudness.peakToLoudnessRatio;
        checks.push_back(
            check("plr", plr, profile.minPlrLu, !plr || *plr >= *profile.minPlrLu,
                  plr ? formatted("PLR %.1f LU", *plr) + " (min " + limitText(*profile.minPlrLu) + ")" : ""));
    }
}

void judgeClipping(const ExistingClipResult& clipping, std::vector<DeliveryCheck>& checks)
{
    const auto total = [](const std::vector<std::int64_t>& runs) {
        return std::accumulate(runs.begin(), runs.end(), std::int64_t{0});
    };
    const std::int64_t fullScale = total(clipping.fullScaleRuns);
    const std::int64_t ceiling = total(clipping.ceilingRuns);
    const auto runs = [](std::int64_t count, std::string_view where) {
        std::string text = std::to_string(count);
        text.append(count == 1 ? " run at " : " runs at ").append(where);
        return text;
    };
    std::string failure = "clipped: ";
    if (fullScale > 0) {
        failure.append(runs(fullScale, "full scale")).append(ceiling > 0 ? ", " : "");
    }
    if (ceiling > 0) {
        failure.append(runs(ceiling, "a ceiling"));
    }
    checks.push_back(
        check("clipping", static_cast<double>(fullScale + ceiling), 0.0, fullScale + ceiling == 0, failure));
}

// A check of every channel (or pair): failed by those whose words say so.
template <class Failed>
void judgeEach(std::string name, std::optional<double> value, std::optional<double> limit, int count,
               Failed failed, std::vector<DeliveryCheck>& checks)
{
    DeliveryCheck made = check(std::move(name), value, limit, true, "");
    for (int index = 0; index < count; ++index) {
        if (std::optional<std::pair<int, std::string>> failure = failed(index)) {
            made.pass = false;
            made.channels.push_back(failure->first);
            made.failure += (made.failure.empty() ? "" : ", ") + failure->second;
        }
    }
    checks.push_back(std::move(made));
}

bool isEmpty(const ChannelStats& stats, int channel)
{
    return stats.peakDbfs[static_cast<std::size_t>(channel)] < emptyChannelDbfs;
}

void judgeSilence(const DeliveryProfile& profile, const ChannelStats& stats, std::vector<DeliveryCheck>& checks)
{
    if (profile.maxSilenceSeconds) {
        const double limit = *profile.maxSilenceSeconds;
        for (const auto& [name, seconds, where] : {std::tuple{"head-silence", stats.headSilenceSeconds, "head"},
                                                   std::tuple{"tail-silence", stats.tailSilenceSeconds, "tail"}}) {
            checks.push_back(check(name, seconds, limit, seconds <= limit,
                                   std::string("silence at the ") + where + formatted(" %.1f s", seconds) +
                                       " (max " + limitText(limit) + " s)"));
        }
    }
}

void judgePairs(const DeliveryProfile& profile, const ChannelStats& stats, const JobResult& result,
                std::vector<DeliveryCheck>& checks)
{
    const int pairs = static_cast<int>(stats.pairs.size());
    const auto pairAt = [&](int index) -> const ChannelPair& {
        return stats.pairs[static_cast<std::size_t>(index)];
    };
    // A pair with an empty channel is that channel's fault, told once.
    const auto bothSound = [&](const ChannelPair& pair) {
        return !isEmpty(stats, pair.first) && !isEmpty(stats, pair.second);
    };
    if (profile.copiedChannel) {
        judgeEach(
            "copied-channel",
            static_cast<double>(
                std::count_if(stats.pairs.begin(), stats.pairs.end(),
                              [&](const ChannelPair& pair) { return pair.copied && bothSound(pair); })),
            0.0, pairs,
            [&](int index) -> std::optional<std::pair<int, std::string>> {
                const ChannelPair& pair = pairAt(index);
                if (!pair.copied || !bothSound(pair)) {
                    return std::nullopt;
                }
                return std::pair{pair.second, channelWords(pair.second, result) + " a copy of " +
                                                  channelNameOnly(pair.first, result)};
            },
            checks);
    }
    if (profile.oppositePhase) {
        std::optional<double> lowest;
        for (const ChannelPair& pair : stats.pairs) {
            if (bothSound(pair)) {
                lowest = std::min(lowest.value_or(1.0), pair.correlation);
            }
        }
        judgeEach(
            "opposite-phase", lowest, oppositePhaseCorrelation, pairs,
            [&](int index) -> std::optional<std::pair<int, std::string>> {
                const ChannelPair& pair = pairAt(index);
                if (!bothSound(pair) || pair.correlation >= oppositePhaseCorrelation) {
                    return std::nullopt;
                }
                return std::pair{pair.second, channelWords(pair.second, result) + " in opposite phase to " +
                                                  channelNameOnly(pair.first, result) +
                                                  formatted(" (correlation %.2f)", pair.correlation)};
            },
            checks);
    }
}

void judgeChannels(const DeliveryProfile& profile, const ChannelStats& stats, const JobResult& result,
                   std::vector<DeliveryCheck>& checks)
{
    const int channels = static_cast<int>(stats.peakDbfs.size());
    judgeSilence(profile, stats, checks);
    if (profile.emptyChannel) {
        judgeEach(
            "empty-channel",
            static_cast<double>(std::count_if(stats.peakDbfs.begin(), stats.peakDbfs.end(),
                                              [](double peak) { return peak < emptyChannelDbfs; })),
            0.0, channels,
            [&](int channel) -> std::optional<std::pair<int, std::string>> {
                if (!isEmpty(stats, channel)) {
                    return std::nullopt;
                }
                return std::pair{channel, channelWords(channel, result) + " empty"};
            },
            checks);
    }
    judgePairs(profile, stats, result, checks);
    if (profile.maxDcOffsetDbfs) {
        const double limit = *profile.maxDcOffsetDbfs;
        const auto highest = std::max_element(stats.dcOffsetDbfs.begin(), stats.dcOffsetDbfs.end());
        judgeEach(
            "dc-offset", highest == stats.dcOffsetDbfs.end() ? std::nullopt : finiteOrNone(*highest), limit,
            channels,
            [&](int channel) -> std::optional<std::pair<int, std::string>> {
                const double offset = stats.dcOffsetDbfs[static_cast<std::size_t>(channel)];
                if (offset <= limit) {
                    return std::nullopt;
                }
                return std::pair{channel, formatted("DC offset %.1f dBFS in ", offset) +
                                              channelWords(channel, result) + " (max " + limitText(limit) + ")"};
            },
            checks);
    }
}

void appendLabel(std::string& labels, double start, double end, const std::string& text)
{
    char times[64];
    std::snprintf(times, sizeof times, "%.6f\t%.6f\t", start, end);
    labels.append(times).append(text).append("\n");
}

// Each stretch where the 3 s windows are above the maximum, from the start
// of the first such window to the end of the last.
void appendShortTermLabels(std::string& labels, const LoudnessResult& loudness, double maxLufs)
{
    const std::span<const double> blocks = loudness.blockEnergies;
    const auto window = static_cast<std::size_t>(std::lround(3.0 / loudness.secondsPerBlock));
    double sum = 0.0;
    std::optional<double> loudest; // of the stretch open
    std::size_t stretchStart = 0;
    for (std::size_t end = 1; end <= blocks.size() + 1; ++end) {
        const bool whole = end >= window && end <= blocks.size();
        double lufs = -std::numeric_limits<double>::infinity();
        if (end <= blocks.size()) {
            sum += blocks[end - 1] - (end > window ? blocks[end - 1 - window] : 0.0);
            lufs = whole && sum > 0.0 ? -0.691 + 10.0 * std::log10(sum / static_cast<double>(window)) : lufs;
        }
        if (lufs > maxLufs) {
            stretchStart = loudest ? stretchStart : end - window;
            loudest = std::max(loudest.value_or(lufs), lufs);
        } else if (loudest) {
            appendLabel(labels, static_cast<double>(stretchStart) * loudness.secondsPerBlock,
                        static_cast<double>(end - 1) * loudness.secondsPerBlock,
                        formatted("short-term loudness up to %.1f LUFS", *loudest) + " (max " +
                            limitText(maxLufs) + ")");
            loudest.reset();
        }
    }
}

} // namespace

DeliveryResult judgeDelivery(const DeliveryProfile& profile, const JobResult& result)
{
    DeliveryResult judged;
    judged.profile = profile;
    if (result.loudness) {
        judgeLoudness(profile, *result.loudness, judged.checks);
    }
    if (profile.clipping && result.check) {
        judgeClipping(result.check->clipping, judged.checks);
    }
    if (result.channelStats) {
        judgeChannels(profile, *result.channelStats, result, judged.checks);
    }
    judged.pass = std::all_of(judged.checks.begin(), judged.checks.end(),
                              [](const DeliveryCheck& made) { return made.pass; });
    return judged;
}

std::string deliveryLabels(const DeliveryResult& delivery, const JobResult& result)
{
    std::string labels;
    const double duration = result.durationSeconds();
    for (const DeliveryCheck& made : delivery.checks) {
        if (made.pass || made.name == "clipping") {
            continue;
        }
        if (made.name == "head-silence") {
            appendLabel(labels, 0.0, *made.value, made.failure);
        } else if (made.name == "tail-silence") {
            appendLabel(labels, duration - *made.value, duration, made.failure);
        } else if (made.name == "short-term") {
            appendShortTermLabels(labels, *result.loudness, *made.limit);
        } else {
            appendLabel(labels, 0.0, duration, made.failure);
        }
    }
    return labels;
}

std::string deliveryLine(std::string_view shownName, const DeliveryResult& delivery, const JobResult& result)
{
    std::string line = std::string(shownName) + (delivery.pass ? ": PASS  " : ": FAIL  ");
    std::string said;
    const auto say = [&said](const std::string& words) { said += (said.empty() ? "" : ", ") + words; };
    if (!delivery.pass) {
        for (const DeliveryCheck& made : delivery.checks) {
            if (!made.pass) {
                say(made.failure);
            }
        }
        return line + said;
    }
    if (result.loudness) {
        const LoudnessResult& loudness = *result.loudness;
        if (loudness.integratedLufs) {
            say(formatted("%.1f LUFS", *loudness.integratedLufs));
        }
        say(std::isfinite(loudness.truePeakDbtpOverall) ? formatted("%+.1f dBTP", loudness.truePeakDbtpOverall)
                                                        : "-inf dBTP");
        if (loudness.loudnessRange) {
            say(formatted("LRA %.1f LU", *loudness.loudnessRange));
        }
    }
    return line + said;
}

} // namespace tarvelle
