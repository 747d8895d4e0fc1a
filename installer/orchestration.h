#pragma once
#include <string>

#include "common/run_record.h"

// Runs the install from the expanded package: applies the command line's port to the settings
// file when the package asks for it, starts the graphical installer and waits for it, and removes
// the expansion directory. Returns Installed when the installer ran and ended by itself, whatever
// number it returned; otherwise, after the failure's line and the cleanup, how the run failed
// (PortOptionsMissing, NoInstallerForMachine, InstallerNotStarted, InstallerCrashed). Enters the
// installer, its parameters, its exit code and the failure line in record.
Outcome RunInstall(RunRecord* record);

// Returns true when the settings file holds "License=1", "PortRuntimeDiscover=1" or
// "DisplayUI=1" as a whole line, looking them up in that order and stopping at the first found.
bool RequestsStandaloneRun(const std::string& settingsFilePath);

// The standalone run: the installer gets the "/l:" option as typed, or no parameters at all.
// Same port step, cleanup and result as RunInstall.
Outcome RunStandaloneInstall(RunRecord* record);
