#pragma once
#include <string>

// Runs the launcher from its entry point's arguments and returns the process exit code.
int RunLauncher(int argc, const char* const* argv);

// Returns the path the launcher was started by after its last backslash (all of it without one).
std::string LauncherFileName(const std::string& startedAs);

// Returns fileName with the (at most three) characters after its last dot replaced by "cab";
// a name without a dot gets ".cab" appended.
std::string DerivedCabinetName(const std::string& fileName);
