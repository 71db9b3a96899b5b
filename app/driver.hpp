// The run without arguments: the prompt loop, the work and the completion.
#pragma once

#include "app/dialogue.hpp"
#include "platform/output_file.hpp"

#include <vector>

namespace tarvelle {

struct DialogueOutcome {
    int exitStatus = 1;
    // Each output of the accepted file that could not be written, and why,
    // for the caller to name once the dialogue has handed the terminal back.
    std::vector<OutputResult> outputsNotWritten;
};

DialogueOutcome runDialogue(Dialogue& dialogue);

// Standard error's "tarvelle: NAME: REASON" line for each, as in batch mode.
void reportOutputsNotWritten(const std::vector<OutputResult>& outputsNotWritten);

} // namespace tarvelle
