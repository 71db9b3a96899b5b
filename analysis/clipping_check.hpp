// The check of the clipping already in the file.
#pragma once

#include "clip/existing_clipping.hpp"
#include "engine/analysis.hpp"

namespace tarvelle {

template <class Sample> class ClippingCheck final : public Analysis<Sample> {
public:
    using SampleType = Sample;
    // Each side's ceiling is decided at the end, from what the read saw.
    static constexpr bool needsPeak = false;
    static constexpr double cost = 2.0;

    ClippingCheck(ExistingClipFormat format, std::int64_t minRunLength, ExistingClipSink sink)
        : detector_(format, minRunLength, std::move(sink))
    {
    }

    void add(std::span<const Sample> samples) override { detector_.addFrames(samples); }
    void finish(JobResult& result) override { result.check->clipping = detector_.finish(); }

private:
    ExistingClipDetector detector_;
};

} // namespace tarvelle
