#include "app/batch.hpp"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tarvelle
