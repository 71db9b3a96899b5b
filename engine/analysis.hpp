// One measurement over a file: it takes the file's blocks in order, then
// finishes into its part of the file's result. The sample type is the one
// the file is read in: 16-bit samples as they are, or doubles. Each kind also
// says, as static members, whether it needs the peak (it can then start only
// in the second read) and its work per sample, the peak's being 1, by which
// the reads are spread over the threads.
#pragma once

#include "engine/job_result.hpp"

#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace tarvelle {

template <class Sample> class Analysis {
public:
    virtual ~Analysis() = default;

    // Whole frames, block after block.
    virtual void add(std::span<const Sample> samples) = 0;
    virtual void finish(JobResult& result) = 0;
};

// An analysis the job picked, made when its read starts.
template <class Sample> struct PickedAnalysis {
    bool needsPeak = false;
    double cost = 1.0;
    std::function<std::unique_ptr<Analysis<Sample>>()> make;
};

template <class Kind, class Make> auto pick(Make make) -> PickedAnalysis<typename Kind::SampleType>
{
    return {Kind::needsPeak, Kind::cost, std::move(make)};
}

} // namespace tarvelle
