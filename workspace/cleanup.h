#pragma once
#include <string>

// Announces "Install Failed" when installFailed, else "Install Complete", has the command interpreter
// remove the expansion directory and all below it, and prints "Cleanup Complete.".
void CleanUpWorkspace(bool installFailed);

// Returns the command interpreter's parameters that remove exactly expansionDirectory: no AutoRun
// command, no delayed expansion, the path quoted.
std::string RemovalParameters(const std::string& expansionDirectory);
