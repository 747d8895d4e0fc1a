#pragma once
#include <string>

// Returns true when at least two running processes that run elevated or as SYSTEM have exactly
// launcherFileName as their executable name (the launcher is one of them); false when fewer do or
// the system cannot tell.
bool IsAnotherInstanceRunning(const std::string& launcherFileName);
