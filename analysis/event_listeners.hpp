// The events the level counts and the check find, told to whoever listens as
// each ends: the label tracks, the kept events, the picture. A listener for a
// new use of the events joins the job with one line.
#pragma once

#include "clip/clip_stats.hpp"
#include "clip/existing_clipping.hpp"
#include "engine/job_outputs.hpp"
#include "engine/job_result.hpp"
#include "platform/spill_file.hpp"
#include "report/labels.hpp"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tarvelle {

class ClipEventListener {
public:
    virtual ~ClipEventListener() = default;
    // Of one level, on the thread that counts it: each level from one thread,
    // levels from several at once.
    virtual void levelEvent(std::size_t level, const ClipEvent& event) = 0;
    // Of the clipping already in the file.
    virtual void existingRun(const ExistingClipRun& run) = 0;
    // After the last event.
    virtual void eventsEnded(JobResult& /*result*/) {}
};

class EventListeners {
public:
    void add(ClipEventListener& listener) { listeners_.push_back(&listener); }
    bool empty() const { return listeners_.empty(); }

    // Where a level's count tells its events; empty when nobody listens, so
    // that the count keeps no runs for nobody. Asked once every listener is in.
    ClipEventSink levelSink(std::size_t level);
    // Where the check tells its runs, to whoever listens when they come.
    ExistingClipSink existingSink();
    void eventsEnded(JobResult& result);

private:
    std::vector<ClipEventListener*> listeners_;
};

// Every event kept in the result, for a caller that asked for them.
class KeptEvents final : public ClipEventListener {
public:
    explicit KeptEvents(JobResult& result) : result_(result) {}
    void levelEvent(std::size_t level, const ClipEvent& event) override;
    void existingRun(const ExistingClipRun& run) override;

private:
    JobResult& result_;
};

// One track's events in order of start (ties by channel), whatever order they
// come in: a count tells them per channel a block at a time or as each ends,
// and the check its ceiling runs last. Sorted a chunk at a time into a
// temporary file, then merged, so memory stays within a chunk and a small
// window per chunk at any length.
class StartOrderedEvents {
public:
    static constexpr std::size_t chunkEvents = std::size_t{1} << 13;

    void add(const LabelEvent& event);
    // Every event in order; once, after the last.
    void drain(const std::function<void(const LabelEvent&)>& each);

private:
    void spillChunk();

    std::vector<LabelEvent> held_;
    SpillFile spilled_;
    std::vector<std::uint64_t> chunkStarts_; // in events
};

// Label tracks, a level's and the check's, in order of start, written a few
// pages at a time.
class LabelTracks final : public ClipEventListener {
public:
    // Text goes out once a track holds this much.
    static constexpr std::size_t flushBytes = std::size_t{1} << 16;

    LabelTracks(JobOutputs& outputs, int channels, std::int32_t sampleRate, std::uint32_t channelMask)
        : outputs_(outputs), channels_(channels), sampleRate_(sampleRate), channelMask_(channelMask)
    {
    }
    void levelEvent(std::size_t level, const ClipEvent& event) override;
    void existingRun(const ExistingClipRun& run) override;
    void eventsEnded(JobResult& result) override;

private:
    void add(std::size_t track, const LabelEvent& event);
    void flush(std::size_t track);

    std::array<StartOrderedEvents, labelTrackCount> events_;
    JobOutputs& outputs_;
    int channels_;
    std::int32_t sampleRate_;
    std::uint32_t channelMask_;
    std::array<std::string, labelTrackCount> text_;
};

} // namespace tarvelle
