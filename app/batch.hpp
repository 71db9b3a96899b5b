// tarvelle FILE...: every file in turn, without the dialogue.
#pragma once

#include <string>
#include <vector>

namespace tarvelle {

// Returns the exit status: 0 when every file was accepted and all its
// outputs written, 1 otherwise.
int runBatch(const std::vector<std::string>& inputFileNames);

} // namespace tarvelle
