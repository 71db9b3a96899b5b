#include "analysis/level_counts.hpp"

namespace tarvelle {

template <class Sample>
LevelCounts<Sample>::LevelCounts(std::size_t firstLevel, std::span<LevelCount> counts, const SampleFormat& format,
                                 JobOutputs& outputs, std::size_t blockSamples, ReportText reportText)
    : firstLevel_(firstLevel), counts_(counts), format_(format), reportText_(std::move(reportText))
{
    for (std::size_t index = 0; index < counts.size(); ++index) {
        if (OutputFile* file = outputs.clippedWav(firstLevel + index)) {
            files_.emplace_back(index, file);
        }
    }
    if (!files_.empty()) {
        clipped_.resize(blockSamples);
        if constexpr (!std::is_same_v<Sample, std::int16_t>) {
            encoded_.resize(blockSamples * static_cast<std::size_t>(format.containerBytes));
        }
    }
}

template <class Sample> void LevelCounts<Sample>::add(std::span<const Sample> samples)
{
    Kernel::count(counts_, samples);
    const std::span<Sample> clipped(clipped_.data(), clipped_.empty() ? 0 : samples.size());
    const std::span<std::uint8_t> encoded(
        encoded_.data(), encoded_.empty() ? 0 : samples.size() * static_cast<std::size_t>(format_.containerBytes));
    for (const auto& [index, file] : files_) {
        if (!file->failed()) {
            file->append(Kernel::clip(format_, samples, counts_[index], clipped, encoded));
        }
    }
}

template <class Sample> void LevelCounts<Sample>::finish(JobResult& result)
{
    for (std::size_t index = 0; index < counts_.size(); ++index) {
        LevelCount& count = counts_[index];
        finishLevelCount(count);
        const std::size_t level = firstLevel_ + index;
        result.levels[level].stats.channels = count.channels;
        result.reports[level] = reportText_(static_cast<int>(level), result.levels[level].stats.channels);
    }
}

template class LevelCounts<std::int16_t>;
template class LevelCounts<double>;

} // namespace tarvelle
