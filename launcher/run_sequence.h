#pragma once
#include <string>

#include "common/run_record.h"

// Runs the launcher from its entry point's arguments and returns the process exit code; with
// outcome, says how the run ended.
int RunLauncher(int argc, const char* const* argv, Outcome* outcome = nullptr);

// Returns the path the launcher was started by after its last backslash (all of it without one).
std::string LauncherFileName(const std::string& startedAs);

// Returns fileName with the (at most three) characters after its last dot replaced by "cab";
// a name without a dot gets ".cab" appended.
std::string DerivedCabinetName(const std::string& fileName);
