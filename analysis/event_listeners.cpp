#include "analysis/event_listeners.hpp"

#include "report/labels.hpp"

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
    add(checkLabelTrack,
        LabelEvent{run.channel, run.startFrame, run.length, run.kind == ExistingClipKind::over});
}

void LabelTracks::eventsEnded(JobResult& /*result*/)
{
    for (std::size_t track = 0; track < text_.size(); ++track) {
        flush(track);
    }
}

void LabelTracks::add(std::size_t track, const LabelEvent& event)
{
    // A track not asked for has no file: its text is not kept either.
    if (outputs_.labelTrack(track) == nullptr) {
        return;
    }
    std::string& text = text_[track];
    appendLabel(text, event, channels_, sampleRate_, channelMask_);
    if (text.size() >= flushBytes) {
        flush(track);
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
