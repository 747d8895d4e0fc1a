#pragma once
#include <string>

// Runs the install from the expanded package: applies the command line's port to the settings
// file when the package asks for it, starts the graphical installer and waits for it, and removes
// the expansion directory. Returns true when the installer's turn came (whether or not it
// started); false when the package's port options were missing, after the cleanup and the ENTER
// pause: the launcher then ends with exit code 10.
bool RunInstall();

// Returns true when the settings file holds "License=1", "PortRuntimeDiscover=1" or
// "DisplayUI=1" as a whole line, looking them up in that order and stopping at the first found.
bool RequestsStandaloneRun(const std::string& settingsFilePath);

// The standalone run: the installer gets the "/l:" option as typed, or no parameters at all.
// Same port step and cleanup as RunInstall, same result.
bool RunStandaloneInstall();
