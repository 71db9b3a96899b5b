#include "report/json_result.hpp"

#include "clip/peak_clip.hpp"
#include "report/clip_report.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

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
            if (channels.size() == 2) {
                levelJson["left"] = channelJson(channels[0], result);
                levelJson["right"] = channelJson(channels[1], result);
            }
            Json perChannel = Json::array();
            for (const ChannelClipStats& channel : channels) {
                perChannel.push_back(channelJson(channel, result));
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
