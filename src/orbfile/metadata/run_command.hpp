// How every build-time step runs an external program and records it in its Result.
#pragma once

#include <string>
#include <vector>

#include "orbfile/metadata/metadata.hpp"

namespace orbfile::metadata {

enum class Recording { kRecordCommand, kDoNotRecord };

// Appends the arguments joined by single blanks, and a newline, to the result's cmd (unless
// kDoNotRecord). Unless `dryRun`, runs them and waits: their standard output and a newline go to
// cmdOutput, their standard error and a newline to cmdErr, and the status becomes the program's
// exit status. A program that cannot be found or started, or any other error met while running
// it, puts its message and a newline into cmdErr and makes the status 1; an empty list is
// refused the same way with "args must not be empty". A dry run sets the status to 0.
void runCommand(Result& result, const std::vector<std::string>& args, bool dryRun,
                Recording recording = Recording::kRecordCommand);

// The pieces of a text split at blanks, a run of blanks counting as one (no empty pieces).
std::vector<std::string> splitAtBlanks(const std::string& text);

}  // namespace orbfile::metadata
