#include "analysis/event_listeners.hpp"

#include "report/labels.hpp"

#include <algorithm>
#include <queue>
#include <stdexcept>
#include <tuple>

namespace tarvelle {

ClipEventSink EventListeners::levelSink(std::size_t level)
{
    if (listeners_.empty()) {
        return {};
    }
    return [this, level](const ClipEvent& event) {
        for (ClipEventListener* listener : listeners_) {
            listener->levelEvent(level, event);
        }
    };
}

ExistingClipSink EventListeners::existingSink()
{
    return [this](const ExistingClipRun& run) {
        for (ClipEventListener* listener : listeners_) {
            listener->existingRun(run);
        }
    };
}

void EventListeners::eventsEnded(JobResult& result)
{
    for (ClipEventListener* listener : listeners_) {
        listener->eventsEnded(result);
    }
}

void KeptEvents::levelEvent(std::size_t level, const ClipEvent& event)
{
    result_.levels[level].events.push_back(event);
}

void KeptEvents::existingRun(const ExistingClipRun& run)
{
    // Overs are not clipping: counted in the result, not listed as runs.
    if (run.kind == ExistingClipKind::over) {
        return;
    }
    result_.check->runs.push_back(run);
}

void LabelTracks::levelEvent(std::size_t level, const ClipEvent& event)
{
    add(level, LabelEvent{event.channel, event.startFrame, event.length});
}

void LabelTracks::existingRun(const ExistingClipRun& run)
{
    add(checkLabelTrack, LabelEvent{run.channel, run.startFrame, run.length, run.kind == ExistingClipKind::over});
}

void LabelTracks::eventsEnded(JobResult& /*result*/)
{
    for (std::size_t track = 0; track < text_.size(); ++track) {
        std::string& text = text_[track];
        events_[track].drain([&](const LabelEvent& event) {
            appendLabel(text, event, channels_, sampleRate_, channelMask_);
            if (text.size() >= flushBytes) {
                flush(track);
            }
        });
        flush(track);
    }
}

void LabelTracks::add(std::size_t track, const LabelEvent& event)
{
    // A track not asked for has no file: its events are not kept either.
    if (outputs_.labelTrack(track) != nullptr) {
        events_[track].add(event);
    }
}

namespace {

bool startsBefore(const LabelEvent& first, const LabelEvent& second)
{
    return std::tie(first.startFrame, first.channel) < std::tie(second.startFrame, second.channel);
}

// A window on one sorted chunk of the spill.
struct ChunkCursor {
    std::uint64_t next = 0; // in events
    std::uint64_t end = 0;
    std::vector<LabelEvent> window;
    std::size_t at = 0;

    bool refill(const SpillFile& spill)
    {
        constexpr std::uint64_t windowEvents = 32;
        window.resize(static_cast<std::size_t>(std::min(windowEvents, end - next)));
        at = 0;
        if (window.empty()) {
            return false;
        }
        const std::span bytes(reinterpret_cast<std::uint8_t*>(window.data()), window.size() * sizeof(LabelEvent));
        if (!spill.readAt(next * sizeof(LabelEvent), bytes)) {
            throw std::runtime_error("a temporary file could not be read back: " + lastFileErrorText());
        }
        next += window.size();
        return true;
    }
};

} // namespace

void StartOrderedEvents::add(const LabelEvent& event)
{
    held_.push_back(event);
    if (held_.size() >= chunkEvents) {
        spillChunk();
    }
}

void StartOrderedEvents::spillChunk()
{
    std::stable_sort(held_.begin(), held_.end(), startsBefore);
    chunkStarts_.push_back(spilled_.size() / sizeof(LabelEvent));
    spilled_.append(
        std::span(reinterpret_cast<const std::uint8_t*>(held_.data()), held_.size() * sizeof(LabelEvent)));
    held_.clear();
}

void StartOrderedEvents::drain(const std::function<void(const LabelEvent&)>& each)
{
    if (chunkStarts_.empty()) {
        std::stable_sort(held_.begin(), held_.end(), startsBefore);
        std::for_each(held_.begin(), held_.end(), each);
        held_.clear();
        return;
    }
    spillChunk();
    const std::uint64_t total = spilled_.size() / sizeof(LabelEvent);
    std::vector<ChunkCursor> cursors(chunkStarts_.size());
    // The earliest window's event first; on a tie, the earlier chunk's.
    const auto later = [&cursors](std::size_t first, std::size_t second) {
        const LabelEvent& a = cursors[first].window[cursors[first].at];
        const LabelEvent& b = cursors[second].window[cursors[second].at];
        return startsBefore(b, a) || (!startsBefore(a, b) && first > second);
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> next(later);
    for (std::size_t chunk = 0; chunk < cursors.size(); ++chunk) {
        cursors[chunk].next = chunkStarts_[chunk];
        cursors[chunk].end = chunk + 1 < chunkStarts_.size() ? chunkStarts_[chunk + 1] : total;
        if (cursors[chunk].refill(spilled_)) {
            next.push(chunk);
        }
    }
    while (!next.empty()) {
        const std::size_t chunk = next.top();
        next.pop();
        ChunkCursor& cursor = cursors[chunk];
        each(cursor.window[cursor.at]);
        if (++cursor.at < cursor.window.size() || cursor.refill(spilled_)) {
            next.push(chunk);
        }
    }
}

void LabelTracks::flush(std::size_t track)
{
    std::string& text = text_[track];
    if (OutputFile* file = outputs_.labelTrack(track)) {
        file->append(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    text.clear();
}

} // namespace tarvelle
