// The peak taken again in the second read: a file that changed between the
// reads would otherwise be counted against the wrong peak.
#pragma once

#include "engine/analysis.hpp"
#include "engine/sample_kernel.hpp"

namespace tarvelle {

template <class Sample> class PeakAnalysis final : public Analysis<Sample> {
public:
    using SampleType = Sample;
    static constexpr bool needsPeak = false;
    static constexpr double cost = 1.0;
    using Peak = typename SampleKernel<Sample>::Peak;

    void add(std::span<const Sample> samples) override
    {
        peak_.take(samples, sampleCount_);
        sampleCount_ += samples.size();
    }
    void finish(JobResult& /*result*/) override {}

    const Peak& peak() const { return peak_; }

private:
    Peak peak_;
    std::uint64_t sampleCount_ = 0;
};

} // namespace tarvelle
