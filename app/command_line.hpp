// The command line: the options and files it names, read and checked
// together before anything runs.
#pragma once

#include "app/batch.hpp"
#include "app/delivery_options.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tarvelle {

// What the command line asked for, as it is read.
struct CommandLine {
    std::vector<std::string> inputFileNames;
    BatchOptions options;
    bool anyOption = false;
    bool events = false;
    bool minRunGiven = false;
    bool optionsEnded = false;
    DeliveryRequest delivery;
};

// Reads every argument; returns the exit status when the program ends here
// (help, version, a wrong option).
std::optional<int> readCommandLine(int argumentCount, char** argumentValues, CommandLine& line);

// The options read together: what they miss or what they would do in vain.
std::optional<std::string> commandLineError(const CommandLine& line);

// One line and where to look, as other command-line tools do: the whole help
// would bury the line that says what was wrong.
int usageError(const std::string& message);

} // namespace tarvelle
