#include "report/json_result.hpp"

#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace tarvelle {

namespace {

// Keys in the order written, not sorted.
using Json = nlohmann::ordered_json;

// Where the arrays go, written as they are read back. No name can hold a
// NUL, so no name can be taken for one.
const std::string runsMarker{"\0runs", 5};
constexpr std::string_view dumpedMarkerStart = "\"\\u0000";

std::string eventsMarker(std::size_t level, std::size_t channel)
{
    std::string marker(1, '\0');
    marker.append("events ").append(std::to_string(level)).append(" ").append(std::to_string(channel));
    return marker;
}

double toHundredths(double value)
{
    return std::round(value * 100.0) / 100.0 + 0.0;
}

Json dbfsOrNull(double level, const SampleFormat& format)
{
    const std::optional<double> decibels = levelDbfs(level, fullScale(format));
    return decibels ? Json(*decibels) : Json(nullptr);
}

// Integer samples as whole numbers, as they always were; float ones as they are.
Json samplesValue(double value, const SampleFormat& format)
{
    return isFloat(format.encoding) ? Json(value) : Json(static_cast<std::int64_t>(value));
}

Json nameOrNull(const std::optional<std::string>& name)
{
    return name ? Json(*name) : Json(nullptr);
}

// A channel without events, or a file without samples, has no figure: 0.
double hundredthsOf(Extended figure)
{
    const double value = doubleFromExtended(figure);
    return std::isfinite(value) ? toHundredths(value) : 0.0;
}

// A dB value where there is one, null for none or minus infinity.
Json decibelsOrNull(std::optional<double> decibels)
{
    return decibels && std::isfinite(*decibels) ? Json(toHundredths(*decibels)) : Json(nullptr);
}

Json runJson(const ExistingClipRun& run, std::int32_t sampleRate)
{
    Json json;
    json["kind"] = run.kind == ExistingClipKind::fullScale ? "fullScale"
                   : run.kind == ExistingClipKind::ceiling ? "ceiling"
                                                           : "over";
    json["channel"] = run.channel;
    json["startFrame"] = run.startFrame;
    json["startSeconds"] = static_cast<double>(run.startFrame) / sampleRate;
    json["length"] = run.length;
    return json;
}

Json clippingJson(const FileResult& result)
{
    const ExistingClipResult& clipping = *result.clipping;
    const auto kindJson = [](const std::vector<std::int64_t>& perChannel) {
        Json json;
        std::int64_t runs = 0;
        for (const std::int64_t channelRuns : perChannel) {
            runs += channelRuns;
        }
        json["runs"] = runs;
        json["perChannel"] = perChannel;
        return json;
    };
    Json json;
    json["minRun"] = result.minRunLength;
    json["fullScale"] = kindJson(clipping.fullScaleRuns);
    const auto levelOrNull = [&result](const std::optional<double>& level) {
        return level ? samplesValue(*level, result.format) : Json(nullptr);
    };
    if (clipping.positiveCeiling || clipping.negativeCeiling) {
        Json ceiling = kindJson(clipping.ceilingRuns);
        // The nearer side to full scale: the level a single ceiling was given as.
        const double level = std::max(std::fabs(clipping.positiveCeiling.value_or(0.0)),
                                      std::fabs(clipping.negativeCeiling.value_or(0.0)));
        ceiling["level"] = samplesValue(level, result.format);
        ceiling["levelDbfs"] = dbfsOrNull(level, result.format);
        ceiling["positive"] = levelOrNull(clipping.positiveCeiling);
        ceiling["negative"] = levelOrNull(clipping.negativeCeiling);
        ceiling["unlisted"] = clipping.unlistedCeilingRuns;
        json["ceiling"] = std::move(ceiling);
    } else {
        json["ceiling"] = nullptr;
    }
    if (clipping.highestOver) {
        Json overs;
        overs["samples"] =
            std::accumulate(clipping.overSamples.begin(), clipping.overSamples.end(), std::int64_t{0});
        overs["perChannel"] = clipping.overSamples;
        overs["highest"] = *clipping.highestOver;
        overs["highestDbfs"] = dbfsOrNull(*clipping.highestOver, result.format);
        json["overs"] = std::move(overs);
    } else {
        json["overs"] = nullptr;
    }
    json["longest"] = clipping.longest ? runJson(*clipping.longest, result.format.sampleRate) : Json(nullptr);
    if (result.truePeakLimitDbtp && result.loudness != nullptr) {
        Json over = Json::array();
        for (std::size_t channel = 0; channel < result.loudness->truePeakDbtp.size(); ++channel) {
            if (result.loudness->truePeakDbtp[channel] > *result.truePeakLimitDbtp) {
                over.push_back(channel);
            }
        }
        json["truePeakOverLimit"] = {{"limitDbtp", *result.truePeakLimitDbtp}, {"channels", std::move(over)}};
    }
    json["runs"] = runsMarker;
    return json;
}

Json channelJson(const ChannelClipStats& channel, const FileResult& result)
{
    const ChannelFigures figures = channelFigures(channel, result.durationSeconds);
    Json json;
    json["clippedSamples"] = channel.clippedSamples;
    json["clipEvents"] = channel.clipEvents;
    json["averageEventLength"] = hundredthsOf(figures.averageEventLength);
    json["eventsPerSecond"] = hundredthsOf(figures.eventsPerSecond);
    json["eventLengthHistogram"] = channel.eventLengthBins;
    return json;
}

const char* statusText(FileStatus status)
{
    switch (status) {
    case FileStatus::Written:
        return "written";
    case FileStatus::Errors:
        return "errors";
    case FileStatus::Refused:
        return "refused";
    case FileStatus::Skipped:
        return "skipped";
    case FileStatus::Checked:
        return "checked";
    }
    return "errors";
}

void addLoudness(const LoudnessResult& loudness, Json& json)
{
    json["truePeakDbtp"] = decibelsOrNull(loudness.truePeakDbtpOverall);
    Json perChannel = Json::array();
    for (const double truePeak : loudness.truePeakDbtp) {
        perChannel.push_back(decibelsOrNull(truePeak));
    }
    json["truePeakDbtpPerChannel"] = std::move(perChannel);
    json["interSamplePeakDbfs"] = decibelsOrNull(loudness.interSamplePeakDbfs);
    json["integratedLufs"] = decibelsOrNull(loudness.integratedLufs);
    if (!loudness.integratedLufs) {
        json["integratedLufsReason"] = loudness.noIntegratedReason;
    }
    json["loudnessRange"] = decibelsOrNull(loudness.loudnessRange);
    if (!loudness.loudnessRange) {
        json["loudnessRangeReason"] = loudness.noRangeReason;
    }
    json["plr"] = decibelsOrNull(loudness.peakToLoudnessRatio);
    const auto moment = [](const std::optional<LoudestMoment>& loudest) {
        return loudest
                   ? Json{{"lufs", toHundredths(loudest->lufs)}, {"atSeconds", toHundredths(loudest->atSeconds)}}
                   : Json(nullptr);
    };
    json["maxMomentary"] = moment(loudness.maxMomentary);
    json["maxShortTerm"] = moment(loudness.maxShortTerm);
}

Json deliveryJson(const DeliveryResult& delivery)
{
    const DeliveryProfile& profile = delivery.profile;
    const auto limit = [](std::optional<double> value) { return value ? Json(*value) : Json(nullptr); };
    Json limits;
    limits["target"] = limit(profile.targetLufs);
    limits["tolerance"] = profile.targetLufs ? Json(profile.toleranceLu) : Json(nullptr);
    limits["maxTruePeak"] = limit(profile.maxTruePeakDbtp);
    limits["maxShortTerm"] = limit(profile.maxShortTermLufs);
    limits["maxLra"] = limit(profile.maxLraLu);
    limits["minPlr"] = limit(profile.minPlrLu);
    limits["maxSilence"] = limit(profile.maxSilenceSeconds);
    limits["maxDcOffset"] = limit(profile.maxDcOffsetDbfs);
    limits["clipping"] = profile.clipping;
    limits["emptyChannel"] = profile.emptyChannel;
    limits["copiedChannel"] = profile.copiedChannel;
    limits["oppositePhase"] = profile.oppositePhase;
    Json checks = Json::array();
    for (const DeliveryCheck& check : delivery.checks) {
        Json entry;
        entry["name"] = check.name;
        entry["value"] = decibelsOrNull(check.value);
        entry["limit"] = limit(check.limit);
        if (check.tolerance) {
            entry["tolerance"] = *check.tolerance;
        }
        if (!check.channels.empty()) {
            entry["channels"] = check.channels;
        }
        entry["pass"] = check.pass;
        checks.push_back(std::move(entry));
    }
    return Json{{"profile", profile.name},
                {"limits", std::move(limits)},
                {"pass", delivery.pass},
                {"checks", std::move(checks)}};
}

Json levelJson(std::size_t clipLevel, const FileResult& result)
{
    const LevelRecord& level = result.levels[clipLevel];
    Json json;
    json["dbBelowPeak"] = decibelsBelowPeak(clipLevel);
    json["threshold"] = samplesValue(level.stats.clipThreshold, result.format);
    json["thresholdDbfs"] = dbfsOrNull(level.stats.clipThreshold, result.format);
    // Counted channels, or none counted (a level never reached): zeros.
    std::vector<ChannelClipStats> channels = level.stats.channels;
    channels.resize(static_cast<std::size_t>(std::max(result.format.channels, 0)));
    Json perChannel = Json::array();
    for (std::size_t channel = 0; channel < channels.size(); ++channel) {
        Json channelObject = channelJson(channels[channel], result);
        if (result.withEvents) {
            channelObject["events"] = eventsMarker(clipLevel, channel);
        }
        perChannel.push_back(std::move(channelObject));
    }
    if (channels.size() == 2) {
        json["left"] = perChannel[0];
        json["right"] = perChannel[1];
    }
    json["perChannel"] = std::move(perChannel);
    json["report"] = nameOrNull(level.reportName);
    json["wav"] = nameOrNull(level.wavName);
    json["written"] = level.written;
    return json;
}

// Everything but the arrays of events and runs, which are marked.
Json markedJson(const FileResult& result)
{
    Json json;
    json["input"] = result.inputName;
    json["status"] = statusText(result.status);
    if (result.status == FileStatus::Refused) {
        json["message"] = result.refusalMessage;
        return json;
    }
    if (result.status == FileStatus::Skipped) {
        json["outputOf"] = result.outputOf;
        return json;
    }
    if (!result.warning.empty()) {
        json["warning"] = result.warning;
    }
    json["sampleRate"] = result.format.sampleRate;
    json["sampleFormat"] = sampleFormatKey(result.format.encoding);
    json["channels"] = result.format.channels;
    json["samplesPerChannel"] = result.samplesPerChannel;
    json["durationSeconds"] = std::isfinite(result.durationSeconds) ? result.durationSeconds : 0.0;
    json["peak"] = samplesValue(result.peak, result.format);
    json["peakDbfs"] = dbfsOrNull(result.peak, result.format);
    if (result.loudness != nullptr) {
        addLoudness(*result.loudness, json);
    }
    if (result.plotName) {
        json["plot"] = *result.plotName;
    }
    if (result.channelStats != nullptr) {
        const ChannelStats& stats = *result.channelStats;
        json["silenceSeconds"] = {{"head", toHundredths(stats.headSilenceSeconds)},
                                  {"tail", toHundredths(stats.tailSilenceSeconds)}};
        Json offsets = Json::array();
        for (const double offset : stats.dcOffsetDbfs) {
            offsets.push_back(decibelsOrNull(offset));
        }
        json["dcOffsetDbfs"] = std::move(offsets);
    }
    if (result.delivery != nullptr) {
        json["delivery"] = deliveryJson(*result.delivery);
    }
    if (result.clipping != nullptr) {
        json["clipping"] = clippingJson(result);
        return json;
    }
    Json levels = Json::array();
    for (std::size_t clipLevel = 0; clipLevel < result.levels.size(); ++clipLevel) {
        levels.push_back(levelJson(clipLevel, result));
    }
    json["levels"] = std::move(levels);
    return json;
}

// A marked array, from its marker's text (after the NUL).
void writeArray(std::string_view marker, const FileResult& result,
                const std::function<void(std::string_view)>& out)
{
    const char* separator = "";
    out("[");
    if (marker == "runs") {
        if (result.clipRuns != nullptr) {
            result.clipRuns->forEach([&](const ExistingClipRun& run) {
                out(separator);
                out(runJson(run, result.format.sampleRate).dump());
                separator = ",";
            });
        }
    } else {
        std::size_t level = 0;
        int channel = 0;
        std::sscanf(std::string(marker).c_str(), "events %zu %d", &level, &channel);
        const Spilled<ClipEvent>* events = result.levels.at(level).events;
        if (events != nullptr) {
            events->forEach([&](const ClipEvent& event) {
                if (event.channel == channel) {
                    out(separator);
                    char pair[48];
                    std::snprintf(pair, sizeof pair, "[%lld,%lld]", static_cast<long long>(event.startFrame),
                                  static_cast<long long>(event.length));
                    out(pair);
                    separator = ",";
                }
            });
        }
    }
    out("]");
}

} // namespace

void writeFileResultJson(const FileResult& result, const std::function<void(std::string_view)>& out)
{
    // File names on Linux are bytes: replacing what is not UTF-8 keeps the
    // line valid JSON where throwing would lose the whole result.
    const std::string marked = markedJson(result).dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string_view rest = marked;
    for (std::size_t at = rest.find(dumpedMarkerStart); at != std::string_view::npos;
         at = rest.find(dumpedMarkerStart)) {
        out(rest.substr(0, at));
        const std::size_t markerStart = at + dumpedMarkerStart.size();
        const std::size_t markerEnd = rest.find('"', markerStart);
        writeArray(rest.substr(markerStart, markerEnd - markerStart), result, out);
        rest.remove_prefix(markerEnd + 1);
    }
    out(rest);
    out("\n");
}

std::string fileResultJson(const FileResult& result)
{
    std::string line;
    writeFileResultJson(result, [&line](std::string_view piece) { line += piece; });
    return line;
}

std::string summaryJson(const SummaryRecord& summary)
{
    Json json;
    json["status"] = "summary";
    for (const auto& [key, count] : summary.counts) {
        json[key] = count;
    }
    if (summary.loudnessMeasured) {
        const auto named = [](const std::optional<SummaryRecord::Named>& file) {
            return file ? Json{{"input", file->input}, {"integratedLufs", toHundredths(file->integratedLufs)}}
                        : Json(nullptr);
        };
        json["loudest"] = named(summary.loudest);
        json["quietest"] = named(summary.quietest);
        json["integratedLufs"] = decibelsOrNull(summary.integratedLufs);
    }
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace tarvelle
