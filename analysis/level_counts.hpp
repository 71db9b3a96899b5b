// Some of the six levels counted in one sweep and, where their files are
// being written, each clipped and appended to its file.
#pragma once

#include "engine/analysis.hpp"
#include "engine/job_outputs.hpp"
#include "engine/sample_kernel.hpp"

#include <functional>
#include <string>

namespace tarvelle {

template <class Sample> class LevelCounts final : public Analysis<Sample> {
public:
    using SampleType = Sample;
    static constexpr bool needsPeak = true;
    // Per level: the counting sweep, a clip and a write.
    static constexpr double costPerLevel = 1.0;
    using Kernel = SampleKernel<Sample>;
    // A level's report text from its channels' counts.
    using ReportText = std::function<std::string(int clipLevel, const std::vector<ChannelClipStats>&)>;

    // Levels firstLevel on, one count each; blockSamples the most a block holds.
    LevelCounts(std::size_t firstLevel, std::span<LevelCount> counts, const SampleFormat& format,
                JobOutputs& outputs, std::size_t blockSamples, ReportText reportText);

    void add(std::span<const Sample> samples) override;
    void finish(JobResult& result) override;

private:
    std::size_t firstLevel_;
    std::span<LevelCount> counts_;
    const SampleFormat& format_;
    std::vector<std::pair<std::size_t, OutputFile*>> files_; // (index in counts_, file)
    ReportText reportText_;
    std::vector<Sample> clipped_;
    std::vector<std::uint8_t> encoded_;
};

} // namespace tarvelle
