// The picture of where and how the levels clip: each channel's envelope from
// the samples, each level's clipping (and the file's own) from the runs the
// counts and the check find.
#pragma once

#include "analysis/event_listeners.hpp"
#include "clip/plot_gatherer.hpp"
#include "engine/analysis.hpp"
#include "report/clip_plot.hpp"

namespace tarvelle {

template <class Sample> class Picture final : public Analysis<Sample>, public ClipEventListener {
public:
    using SampleType = Sample;
    // The levels' thresholds follow from the peak.
    static constexpr bool needsPeak = true;
    static constexpr double cost = 1.0;

    // heading without its true peak, which the loudness gives, if measured.
    Picture(PlotHeading heading, int channels, std::uint64_t frameCount,
            const std::array<double, clipLevelCount>& thresholds, bool withExistingClipping);

    void add(std::span<const Sample> samples) override;
    // Once the levels and the loudness are finished.
    void finish(JobResult& result) override;

    void levelEvent(std::size_t level, const ClipEvent& event) override;
    void existingRun(const ExistingClipRun& run) override;

private:
    PlotHeading heading_;
    PlotGatherer gatherer_;
};

} // namespace tarvelle
