#pragma once
// The one event each run writes to the Application log, so that a fleet's administrators can read
// on every machine how the run ended and why.

#include <string>
#include <vector>

#include "common/run_record.h"

// The event source the launcher writes as.
extern const char kEventSource[];

// Returns the event's strings, in a fixed order, each "Name: value": Outcome, Exit code (the one
// the run returns), Failure, Launcher, Command line, Cabinet, Temporary directory, Installer,
// Installer exit code, Duration, Package (the name and version the package tool gave the
// launcher, or none), and Log when "/log" asked for one.
std::vector<std::string> RunEventStrings(Outcome outcome, const RunRecord& record, int exitCode,
                                         unsigned long long milliseconds);

// Writes the run's event; a log that cannot be written changes nothing in the run.
void WriteRunEvent(Outcome outcome, const RunRecord& record, int exitCode, unsigned long long milliseconds);
