#pragma once
#include <string>

// Runs the launcher from its entry point's arguments and returns the process exit code.
int RunLauncher(int argc, const char* const* argv);

// Splits the path the launcher was started by at its last backslash. Without one, the file name
// is the whole path and the directory is that of the running executable.
void SplitLauncherPath(const std::string& startedAs, std::string* directory, std::string* fileName);

// Returns fileName with the (at most three) characters after its last dot replaced by "cab";
// a name without a dot gets ".cab" appended.
std::string DerivedCabinetName(const std::string& fileName);
