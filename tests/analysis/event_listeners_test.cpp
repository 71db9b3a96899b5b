#include "analysis/event_listeners.hpp"

#include "report/labels.hpp"
#include "support/test_files.hpp"

#include <gtest/gtest.h>

namespace tarvelle {
namespace {

// Label tracks of many pages: what reaches each file is every label once, in
// the order told, however the text was flushed on the way.
TEST(LabelTracks, TracksLongerThanAFlushHoldEveryLabelOnce)
{
    for (const int eventCount : {0, 1, 2000, 9000}) {
        testing::ScratchFolder folder;
        JobResult result;
        result.levels[2].labelsWanted = true;
        result.levels[2].names.labels = folder.path("level.txt");
        result.check.emplace();
        result.check->labelsWanted = true;
        result.check->labels.fileName = folder.path("check.txt");
        JobOutputs outputs;
        outputs.begin(result, {});
        LabelTracks tracks(outputs, 2, 48000, 0);
        EventListeners listeners;
        listeners.add(tracks);
        const ClipEventSink level = listeners.levelSink(2);
        const ExistingClipSink check = listeners.existingSink();
        std::string levelText;
        std::string checkText;
        for (int index = 0; index < eventCount; ++index) {
            const ClipEvent event{index % 2, index * 1000LL, 1 + index % 50};
            level(event);
            appendLabel(levelText, LabelEvent{event.channel, event.startFrame, event.length}, 2, 48000);
            if (index % 3 == 0) {
                check(ExistingClipRun{ExistingClipKind::fullScale, event.channel, event.startFrame, event.length});
                appendLabel(checkText, LabelEvent{event.channel, event.startFrame, event.length}, 2, 48000);
            }
        }
        listeners.eventsEnded(result);
        ASSERT_TRUE(outputs.commitLabelTrack(2, result.levels[2].names.labels).written);
        ASSERT_TRUE(outputs.commitLabelTrack(checkLabelTrack, result.check->labels.fileName).written);
        const auto bytes = [](const std::string& text) {
            return std::vector<std::uint8_t>(text.begin(), text.end());
        };
        EXPECT_EQ(testing::readFileBytes(folder.path("level.txt")), bytes(levelText)) << eventCount;
        EXPECT_EQ(testing::readFileBytes(folder.path("check.txt")), bytes(checkText)) << eventCount;
        if (eventCount == 9000) {
            EXPECT_GT(levelText.size(), 2 * LabelTracks::flushBytes); // the case is worth its name
        }
    }
}

// Every listener hears every event; a level nobody listens to gets no sink,
// so that its count keeps no runs for nobody.
TEST(EventListeners, EachListenerHearsEveryEvent)
{
    JobResult result;
    result.check.emplace();
    EventListeners none;
    EXPECT_FALSE(none.levelSink(0));
    KeptEvents first(result);
    JobResult other;
    other.check.emplace();
    KeptEvents second(other);
    EventListeners listeners;
    listeners.add(first);
    listeners.add(second);
    listeners.levelSink(4)(ClipEvent{1, 10, 3});
    listeners.existingSink()(ExistingClipRun{ExistingClipKind::ceiling, 0, 5, 7});
    for (const JobResult* kept : {&result, &other}) {
        EXPECT_EQ(kept->levels[4].events.toVector(), std::vector<ClipEvent>({ClipEvent{1, 10, 3}}));
        EXPECT_EQ(kept->check->runs.toVector(),
                  std::vector<ExistingClipRun>({ExistingClipRun{ExistingClipKind::ceiling, 0, 5, 7}}));
    }
}

} // namespace
} // namespace tarvelle
