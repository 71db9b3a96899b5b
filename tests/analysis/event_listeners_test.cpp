#include "analysis/event_listeners.hpp"

#include "report/labels.hpp"
#include "support/test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace tarvelle {
namespace {

// How the events reach the listeners: in order, per channel a 64-frame block
// at a time (the 16-bit stereo path), or in order of their end.
enum class Told { inOrder, perChannelBlocks, byEnd };

std::vector<ClipEvent> toldOrder(std::vector<ClipEvent> events, Told told)
{
    const auto key = [told](const ClipEvent& event) {
        return told == Told::byEnd              ? std::pair(event.startFrame + event.length, 0LL)
               : told == Told::perChannelBlocks ? std::pair(event.startFrame / 64, 0LL + event.channel)
                                                : std::pair(event.startFrame, 0LL + event.channel);
    };
    std::stable_sort(events.begin(), events.end(),
                     [&](const ClipEvent& a, const ClipEvent& b) { return key(a) < key(b); });
    return events;
}

// Label tracks of many pages and many sorted chunks: what reaches each file
// is every label once, in order of start (ties by channel), however they
// were told and the text flushed on the way; the check's ceiling runs, told
// last, take their places too.
TEST(LabelTracks, TracksHoldEveryLabelOnceInOrderOfStart)
{
    const struct {
        int eventCount;
        Told told;
    } cases[] = {{0, Told::inOrder},
                 {1, Told::inOrder},
                 {2000, Told::inOrder},
                 {9000, Told::perChannelBlocks},
                 {40000, Told::perChannelBlocks},
                 {40000, Told::byEnd}};
    for (const auto& [eventCount, told] : cases) {
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
        // Both channels interleaved, a channel's event outlasting the other's start.
        std::vector<ClipEvent> events;
        std::string levelText;
        std::string checkText;
        for (int index = 0; index < eventCount; ++index) {
            const ClipEvent event{index % 2, (index / 2) * 40LL + (index % 2) * 7, 1 + (index * 7) % 30};
            events.push_back(event);
            appendLabel(levelText, LabelEvent{event.channel, event.startFrame, event.length}, 2, 48000);
            appendLabel(checkText, LabelEvent{event.channel, event.startFrame, event.length}, 2, 48000);
        }
        std::vector<ExistingClipRun> ceilingRuns;
        for (const ClipEvent& event : toldOrder(events, told)) {
            listeners.levelSink(2)(event);
            const ExistingClipRun run{ExistingClipKind::fullScale, event.channel, event.startFrame, event.length};
            (event.startFrame % 3 == 0 ? ceilingRuns.push_back(run) : listeners.existingSink()(run));
        }
        for (const ExistingClipRun& run : ceilingRuns) {
            listeners.existingSink()(run);
        }
        listeners.eventsEnded(result);
        ASSERT_TRUE(outputs.commitLabelTrack(2, result.levels[2].names.labels).written);
        ASSERT_TRUE(outputs.commitLabelTrack(checkLabelTrack, result.check->labels.fileName).written);
        const auto bytes = [](const std::string& text) {
            return std::vector<std::uint8_t>(text.begin(), text.end());
        };
        EXPECT_EQ(testing::readFileBytes(folder.path("level.txt")), bytes(levelText)) << eventCount;
        EXPECT_EQ(testing::readFileBytes(folder.path("check.txt")), bytes(checkText)) << eventCount;
        if (eventCount == 40000) {
            // The cases are worth their names: pages flushed, chunks merged, the order changed.
            EXPECT_GT(levelText.size(), 2 * LabelTracks::flushBytes);
            EXPECT_GT(static_cast<std::size_t>(eventCount), 2 * StartOrderedEvents::chunkEvents);
            EXPECT_NE(toldOrder(events, told), events);
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
