#include "report/json_result.hpp"

#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarvelle {

namespace {

// Keys in the order written, not sorted.
using Json = nlohmann::ordered_json;

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
    Json runs = Json::array();
    for (const ExistingClipRun& run : result.clipRuns) {
        runs.push_back(runJson(run, result.format.sampleRate));
    }
    json["runs"] = std::move(runs);
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

} // namespace

std::string fileResultJson(const FileResult& result)
{
    Json json;
    json["input"] = result.inputName;
    json["status"] = statusText(result.status);
    if (result.status == FileStatus::Refused) {
        json["message"] = result.refusalMessage;
    } else if (result.status == FileStatus::Skipped) {
        json["outputOf"] = result.outputOf;
    } else {
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
            const LoudnessResult& loudness = *result.loudness;
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
                return loudest ? Json{{"lufs", toHundredths(loudest->lufs)},
                                      {"atSeconds", toHundredths(loudest->atSeconds)}}
                               : Json(nullptr);
            };
            json["maxMomentary"] = moment(loudness.maxMomentary);
            json["maxShortTerm"] = moment(loudness.maxShortTerm);
        }
        if (result.plotName) {
            json["plot"] = *result.plotName;
        }
        if (result.clipping != nullptr) {
            json["clipping"] = clippingJson(result);
            return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
        }
        Json levels = Json::array();
        for (std::size_t clipLevel = 0; clipLevel < result.levels.size(); ++clipLevel) {
            const LevelRecord& level = result.levels[clipLevel];
            Json levelJson;
            levelJson["dbBelowPeak"] = decibelsBelowPeak(clipLevel);
            levelJson["threshold"] = samplesValue(level.stats.clipThreshold, result.format);
            levelJson["thresholdDbfs"] = dbfsOrNull(level.stats.clipThreshold, result.format);
            // Counted channels, or none counted (a level never reached): zeros.
            std::vector<ChannelClipStats> channels = level.stats.channels;
            channels.resize(static_cast<std::size_t>(std::max(result.format.channels, 0)));
            std::vector<Json> channelObjects;
            for (std::size_t channel = 0; channel < channels.size(); ++channel) {
                Json channelObject = channelJson(channels[channel], result);
                if (result.withEvents) {
                    Json events = Json::array();
                    for (const ClipEvent& event : level.events) {
                        if (event.channel == static_cast<int>(channel)) {
                            events.push_back({event.startFrame, event.length});
                        }
                    }
                    channelObject["events"] = std::move(events);
                }
                channelObjects.push_back(std::move(channelObject));
            }
            if (channels.size() == 2) {
                levelJson["left"] = channelObjects[0];
                levelJson["right"] = channelObjects[1];
            }
            Json perChannel = Json::array();
            for (Json& channelObject : channelObjects) {
                perChannel.push_back(std::move(channelObject));
            }
            levelJson["perChannel"] = std::move(perChannel);
            levelJson["report"] = nameOrNull(level.reportName);
            levelJson["wav"] = nameOrNull(level.wavName);
            levelJson["written"] = level.written;
            levels.push_back(std::move(levelJson));
        }
        json["levels"] = std::move(levels);
    }
    // File names on Linux are bytes: replacing what is not UTF-8 keeps the
    // line valid JSON where throwing would lose the whole result.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace tarvelle
