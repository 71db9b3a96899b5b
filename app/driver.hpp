// The run without arguments: the prompt loop, the work and the completion.
#pragma once

#include "app/dialogue.hpp"

namespace tarvelle {

// Returns the exit status.
int runDialogue(Dialogue& dialogue);

} // namespace tarvelle
