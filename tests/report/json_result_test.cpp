#include "report/json_result.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>

#include <string>
#include <vector>

namespace tarvelle {
namespace {

constexpr const char* noEvents = R"({"clippedSamples":0,"clipEvents":0,"averageEventLength":0.0,)"
                                 R"("eventsPerSecond":0.0,"eventLengthHistogram":[0,0,0,0,0,0,0,0,0,0,0]})";

// A level without events, as its JSON object.
std::string quietLevel(int dbBelowPeak, int threshold, const std::string& thresholdDbfs, const std::string& names,
                       bool written)
{
    return "{\"dbBelowPeak\":" + std::to_string(dbBelowPeak) + ",\"threshold\":" + std::to_string(threshold) +
           ",\"thresholdDbfs\":" + thresholdDbfs + ",\"left\":" + noEvents + ",\"right\":" + noEvents +
           ",\"perChannel\":[" + noEvents + "," + noEvents + "]," + names +
           ",\"written\":" + (written ? "true" : "false") + "}";
}

FileResult withThresholds(FileResult result, const std::vector<std::int16_t>& thresholds)
{
    for (std::size_t level = 0; level < thresholds.size(); ++level) {
        result.levels[level].stats.clipThreshold = thresholds[level];
    }
    return result;
}

TEST(FileResultJson, ExactLines)
{
    FileResult refused;
    refused.inputName = "notes.txt";
    refused.status = FileStatus::Refused;
    refused.refusalMessage = "Not a stereo file";
    refused.format.sampleRate = 44100; // left out for a refused file, whatever it holds

    FileResult silent;
    silent.inputName = "room tone.wav";
    silent.format.sampleRate = 88200;
    silent.samplesPerChannel = 88200;
    silent.durationSeconds = 1.0;
    for (std::size_t level = 0; level < 6; ++level) {
        const std::string suffix = " " + std::to_string(3 * (level + 1)) + "dB clipping";
        silent.levels[level].reportName = "room tone" + suffix + ".txt";
        silent.levels[level].wavName = "room tone" + suffix + ".wav";
        silent.levels[level].written = true;
    }

    // Events on the first level only; its WAV file could not be written.
    FileResult clipped = withThresholds(FileResult{}, {23028, 16284, 11514, 8142, 5757, 4071});
    clipped.inputName = "take.wav";
    clipped.status = FileStatus::Errors;
    clipped.format.sampleRate = 44100;
    clipped.samplesPerChannel = 88200;
    clipped.durationSeconds = 2.0;
    clipped.peak = 32567;
    ChannelClipStats& left = clipped.levels[0].stats.channels.emplace_back();
    left.clippedSamples = 7;
    left.clipEvents = 3;
    left.eventLengthBins = {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ChannelClipStats& right = clipped.levels[0].stats.channels.emplace_back();
    right.clippedSamples = 2147483647;
    right.clipEvents = 1;
    right.eventLengthBins = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    clipped.levels[0].reportName = "take 3dB clipping.txt";

    // Control bytes escaped, a byte that is not UTF-8 replaced; a file of
    // no samples has no events per second to divide out.
    FileResult oddName = withThresholds(FileResult{}, {1, 1, 1, 0, 0, 0});
    oddName.inputName = "a\x01\tb\xff\".wav";
    oddName.format.sampleRate = 176400;
    oddName.peak = 1;

    // Mono float with a warning: no left and right, a peak over full scale,
    // float thresholds.
    FileResult mono;
    mono.inputName = "mono.wav";
    mono.warning = "cut short";
    mono.format = SampleFormat{SampleEncoding::Float32, 1, 4, 32, 48000, 0, false};
    mono.samplesPerChannel = 48000;
    mono.durationSeconds = 1.0;
    mono.peak = 2.0;
    for (std::size_t level = 0; level < 6; ++level) {
        mono.levels[level].stats.clipThreshold = level == 1 ? 1.0 : 0.0;
    }
    mono.levels[1].stats.channels.push_back(ChannelClipStats{4, 2, 0, {2}, false});

    // Loudness figures to the hundredth like every other level, -inf as null.
    LoudnessResult measured;
    measured.truePeakDbtp = {-0.5234, -INFINITY};
    measured.truePeakDbtpOverall = -0.5234;
    measured.interSamplePeakDbfs = -0.3149;
    measured.integratedLufs = -14.204999;
    measured.loudnessRange = 0.10000000000000797;
    measured.peakToLoudnessRatio = 13.681599;
    measured.maxShortTerm = LoudestMoment{-9.1249, 41.30000000000001};
    FileResult loud = silent;
    loud.loudness = &measured;

    const std::string unnamed = R"("report":null,"wav":null)";
    std::string monoLevels;
    std::string silentLevels;
    std::string clippedLevels;
    std::string oddLevels;
    const std::vector<std::string> clippedDbfs = {"-3.06", "-6.07", "-9.08", "-12.09", "-15.11", "-18.11"};
    for (int level = 0; level < 6; ++level) {
        const std::string comma = level == 0 ? "" : ",";
        const int dbBelowPeak = 3 * (level + 1);
        const std::string names = "\"report\":\"room tone " + std::to_string(dbBelowPeak) +
                                  "dB clipping.txt\",\"wav\":\"room tone " + std::to_string(dbBelowPeak) +
                                  "dB clipping.wav\"";
        silentLevels += comma + quietLevel(dbBelowPeak, 0, "null", names, true);
        oddLevels +=
            comma + quietLevel(dbBelowPeak, level < 3 ? 1 : 0, level < 3 ? "-90.31" : "null", unnamed, false);
        monoLevels += comma + "{\"dbBelowPeak\":" + std::to_string(dbBelowPeak) + ",\"threshold\":" +
                      (level == 1 ? "1.0,\"thresholdDbfs\":0.0" : "0.0,\"thresholdDbfs\":null") +
                      ",\"perChannel\":[" +
                      (level == 1 ? R"({"clippedSamples":4,"clipEvents":2,"averageEventLength":2.0,)"
                                    R"("eventsPerSecond":2.0,"eventLengthHistogram":[2,0,0,0,0,0,0,0,0,0,0]})"
                                  : noEvents) +
                      "]," + unnamed + ",\"written\":false}";
        if (level > 0) {
            clippedLevels +=
                "," + quietLevel(dbBelowPeak, clipped.levels[static_cast<std::size_t>(level)].stats.clipThreshold,
                                 clippedDbfs[static_cast<std::size_t>(level)], unnamed, false);
        }
    }
    const std::string clippedLeft = R"({"clippedSamples":7,"clipEvents":3,"averageEventLength":2.33,)"
                                    R"("eventsPerSecond":1.5,"eventLengthHistogram":[1,2,0,0,0,0,0,0,0,0,0]})";
    const std::string clippedRight = R"({"clippedSamples":2147483647,"clipEvents":1,)"
                                     R"("averageEventLength":2147483647.0,"eventsPerSecond":0.5,)"
                                     R"("eventLengthHistogram":[0,0,0,0,0,0,0,0,0,0,1]})";
    clippedLevels = R"({"dbBelowPeak":3,"threshold":23028,"thresholdDbfs":-3.06,"left":)" + clippedLeft +
                    ",\"right\":" + clippedRight + ",\"perChannel\":[" + clippedLeft + "," + clippedRight +
                    R"(],"report":"take 3dB clipping.txt","wav":null,"written":false})" + clippedLevels;

    const struct {
        const char* what;
        const FileResult& result;
        std::string line;
    } cases[] = {
        {"refused", refused, R"({"input":"notes.txt","status":"refused","message":"Not a stereo file"})"},
        {"silent", silent,
         R"({"input":"room tone.wav","status":"written","sampleRate":88200,"sampleFormat":"int16","channels":2,)"
         R"("samplesPerChannel":88200,)"
         R"("durationSeconds":1.0,"peak":0,"peakDbfs":null,"levels":[)" +
             silentLevels + "]}"},
        {"clipped", clipped,
         R"({"input":"take.wav","status":"errors","sampleRate":44100,"sampleFormat":"int16","channels":2,)"
         R"("samplesPerChannel":88200,)"
         R"("durationSeconds":2.0,"peak":32567,"peakDbfs":-0.05,"levels":[)" +
             clippedLevels + "]}"},
        {"loudness", loud,
         R"({"input":"room tone.wav","status":"written","sampleRate":88200,"sampleFormat":"int16","channels":2,)"
         R"("samplesPerChannel":88200,"durationSeconds":1.0,"peak":0,"peakDbfs":null,"truePeakDbtp":-0.52,)"
         R"("truePeakDbtpPerChannel":[-0.52,null],"interSamplePeakDbfs":-0.31,"integratedLufs":-14.2,)"
         R"("loudnessRange":0.1,"plr":13.68,"maxMomentary":null,"maxShortTerm":{"lufs":-9.12,"atSeconds":41.3},)"
         R"("levels":[)" +
             silentLevels + "]}"},
        {"mono float", mono,
         R"({"input":"mono.wav","status":"written","warning":"cut short","sampleRate":48000,)"
         R"("sampleFormat":"float32","channels":1,"samplesPerChannel":48000,"durationSeconds":1.0,)"
         R"("peak":2.0,"peakDbfs":6.02,"levels":[)" +
             monoLevels + "]}"},
        {"odd name", oddName,
         "{\"input\":\"a\\u0001\\tb\xEF\xBF\xBD\\\".wav\",\"status\":\"written\",\"sampleRate\":176400,"
         "\"sampleFormat\":\"int16\",\"channels\":2,"
         "\"samplesPerChannel\":0,\"durationSeconds\":0.0,\"peak\":1,\"peakDbfs\":-90.31,\"levels\":[" +
             oddLevels + "]}"},
    };
    for (const auto& known : cases) {
        EXPECT_EQ(fileResultJson(known.result), known.line + "\n") << known.what;
    }
}

// Arrays too long to hold, written a piece at a time from their temporary
// files: the line is the one the whole JSON value would dump, every event
// and run in its channel, in the order kept.
TEST(FileResultJson, StreamedArraysAreTheWholeValuesLine)
{
    Spilled<ClipEvent> events;
    Spilled<ExistingClipRun> runs;
    std::array<nlohmann::ordered_json, 2> channelEvents{nlohmann::ordered_json::array(),
                                                        nlohmann::ordered_json::array()};
    nlohmann::ordered_json runObjects = nlohmann::ordered_json::array();
    for (std::int64_t index = 0; index < 30000; ++index) {
        const int channel = static_cast<int>(index % 3 % 2);
        events.push_back(ClipEvent{channel, index * 10, 1 + index % 7});
        channelEvents[static_cast<std::size_t>(channel)].push_back({index * 10, 1 + index % 7});
        const auto kind = index % 5 == 0 ? ExistingClipKind::ceiling : ExistingClipKind::fullScale;
        runs.push_back(ExistingClipRun{kind, channel, index * 10, 3 + index % 4});
        runObjects.push_back({{"kind", index % 5 == 0 ? "ceiling" : "fullScale"},
                              {"channel", channel},
                              {"startFrame", index * 10},
                              {"startSeconds", static_cast<double>(index * 10) / 44100},
                              {"length", 3 + index % 4}});
    }
    FileResult levels;
    levels.inputName = "long.wav";
    levels.format.sampleRate = 44100;
    levels.withEvents = true;
    levels.levels[1].events = &events;
    FileResult check = levels;
    const ExistingClipResult clipping{};
    check.clipping = &clipping;
    check.clipRuns = &runs;
    for (const FileResult* result : {&levels, &check}) {
        const std::string line = fileResultJson(*result);
        ASSERT_GT(line.size(), 2 * SpillFile::memoryBytes); // the arrays went through the disk
        ASSERT_EQ(line.back(), '\n');
        const auto whole = nlohmann::ordered_json::parse(line);
        EXPECT_EQ(whole.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n", line);
        if (result == &check) {
            EXPECT_EQ(whole["clipping"]["runs"], runObjects);
            continue;
        }
        const auto& level = whole["levels"][1];
        EXPECT_EQ(level["left"]["events"], channelEvents[0]);
        EXPECT_EQ(level["right"]["events"], channelEvents[1]);
        EXPECT_EQ(level["perChannel"][1]["events"], channelEvents[1]);
        EXPECT_EQ(whole["levels"][0]["perChannel"][0]["events"], nlohmann::ordered_json::array());
    }
}

} // namespace
} // namespace tarvelle
