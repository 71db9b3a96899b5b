#include "app/batch.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace tarvelle {
namespace {

TEST(BatchExitStatus, AnyFileNotDoneFailsTheRunWhereverItStands)
{
    using enum FileOutcome;
    const struct {
        std::vector<FileOutcome> outcomes;
        int status;
    } cases[] = {
        {{}, 0},
        {{AllWritten, Skipped, AllWritten}, 0},
        {{NotDone, AllWritten, AllWritten}, 1},
        {{AllWritten, AllWritten, NotDone}, 1},
        {{Skipped}, 0},
    };
    for (const auto& statusCase : cases) {
        EXPECT_EQ(batchExitStatus(statusCase.outcomes), statusCase.status);
    }
}

TEST(SummaryLine, NamesThePeakTheCountAndThePatternEscaped)
{
    const struct {
        std::string name;
        std::int32_t peak;
        bool reportsOnly;
        std::string outputFolder;
        int outputCount;
        int failedOutputCount;
        std::string line;
    } cases[] = {
        {"take.wav", 32567, false, "", 12, 0,
         "take.wav: peak 32567 (-0.05 dBFS); 12 files written: take {3,6,9,12,15,18}dB clipping.{txt,wav}"},
        {"take.wav", 0, true, "", 6, 0,
         "take.wav: peak 0 (silent); 6 files written: take {3,6,9,12,15,18}dB clipping.txt"},
        {"a/take.wav", 100, false, "out", 12, 1,
         "a/take.wav: peak 100 (-50.31 dBFS); 1 of 12 files could not be written: out/take "
         "{3,6,9,12,15,18}dB clipping.{txt,wav}"},
        {"x\x1f\x7f\\.wav", 32768, false, "", 12, 0,
         "x\\037\\177\\.wav: peak 32768 (0.00 dBFS); 12 files written: x\\037\\177\\ {3,6,9,12,15,18}dB "
         "clipping.{txt,wav}"},
    };
    for (const auto& lineCase : cases) {
        JobOptions job;
        job.reportsOnly = lineCase.reportsOnly;
        job.outputFolder = lineCase.outputFolder;
        EXPECT_EQ(summaryLine(lineCase.name, lineCase.peak, SampleFormat{}, job, lineCase.outputCount,
                              lineCase.failedOutputCount),
                  lineCase.line);
    }
}

TEST(BatchSummaryLine, CountsThenTheLoudestTheQuietestAndAllAsOne)
{
    const auto loudness = [](std::string name, std::optional<double> lufs) {
        return FileLoudness{std::move(name), lufs, {}};
    };
    BatchSummary summary;
    summary.check = true;
    summary.counts = {4, 3, 1, 0, 1, 0};
    EXPECT_EQ(batchSummaryLine(summary), "tarvelle: 4 files: 3 checked, 1 clipped, 1 refused");
    summary.add(loudness("silent.wav", std::nullopt));
    EXPECT_EQ(batchSummaryLine(summary),
              "tarvelle: 4 files: 3 checked, 1 clipped, 1 refused; no file loud enough to measure");
    // The first of equals stays; a name is made safe for the terminal.
    for (const auto& [name, lufs] : {std::pair{"a.wav", -20.0}, {"b\x1b.wav", -14.5}, {"c.wav", -14.5}}) {
        summary.add(loudness(name, lufs));
    }
    summary.gatingBlocks = {std::pow(10.0, (-20 + 0.691) / 10)};
    EXPECT_EQ(batchSummaryLine(summary), "tarvelle: 4 files: 3 checked, 1 clipped, 1 refused; loudest b\\033.wav "
                                         "-14.50 LUFS, quietest a.wav -20.00 LUFS, all as one -20.00 LUFS");
}

} // namespace
} // namespace tarvelle
