// tarvelle FILE...: every file in turn, without the dialogue.
#pragma once

#include "app/clip_job.hpp"

#include <string>
#include <vector>

namespace tarvelle {

struct BatchOptions {
    JobOptions job;
    bool json = false;  // one JSON line per file on standard output instead of the summary lines
    bool quiet = false; // no summary lines and no progress
};

// Returns the exit status: 0 when every file was accepted and all its
// outputs written, 1 otherwise. A name skipped as another's output changes
// nothing.
int runBatch(const std::vector<std::string>& inputFileNames, const BatchOptions& options = {});

} // namespace tarvelle
