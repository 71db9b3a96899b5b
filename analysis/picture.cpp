#include "analysis/picture.hpp"

#include <cmath>

namespace tarvelle {

template <class Sample>
Picture<Sample>::Picture(PlotHeading heading, int channels, std::uint64_t frameCount,
                         const std::array<double, clipLevelCount>& thresholds, bool withExistingClipping)
    : heading_(std::move(heading)), gatherer_(channels, frameCount, thresholds)
{
    if (withExistingClipping) {
        gatherer_.showExistingClipping();
    }
}

template <class Sample> void Picture<Sample>::add(std::span<const Sample> samples)
{
    if constexpr (std::is_same_v<Sample, std::int16_t>) {
        gatherer_.addEnvelope(samples);
    } else {
        gatherer_.addFrames(samples);
    }
}

template <class Sample> void Picture<Sample>::finish(JobResult& result)
{
    heading_.delivery = result.delivery ? &*result.delivery : nullptr;
    if (result.loudness && std::isfinite(result.loudness->truePeakDbtpOverall)) {
        heading_.truePeakDbtp = result.loudness->truePeakDbtpOverall;
    }
    LevelHistograms histograms;
    for (std::size_t index = 0; index < result.levels.size(); ++index) {
        for (const ChannelClipStats& channel : result.levels[index].stats.channels) {
            histograms[index].push_back(channel.eventLengthBins);
        }
    }
    result.plotText =
        clipPlotSvg(gatherer_.finish(), heading_, histograms, result.loudness ? &*result.loudness : nullptr);
}

template <class Sample> void Picture<Sample>::levelEvent(std::size_t level, const ClipEvent& event)
{
    gatherer_.addLevelRun(static_cast<int>(level), event.channel, static_cast<std::uint64_t>(event.startFrame),
                          static_cast<std::uint64_t>(event.length));
}

template <class Sample> void Picture<Sample>::existingRun(const ExistingClipRun& run)
{
    if (run.kind == ExistingClipKind::over) {
        return;
    }
    gatherer_.addExistingRun(run.channel, static_cast<std::uint64_t>(run.startFrame),
                             static_cast<std::uint64_t>(run.length));
}

template class Picture<std::int16_t>;
template class Picture<double>;

} // namespace tarvelle
