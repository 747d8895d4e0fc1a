#pragma once
#include <string>

#include "common/run_record.h"

// Announces "Install Failed" when installFailed, else "Install Complete", removes the expansion
// directory and all below it through the handle that holds it, wherever it is now, and prints
// "Cleanup Complete.". Returns "" when the expansion directory's path still named the run's own
// directory; otherwise the line, printed between the two, that says it no longer did.
std::string CleanUpWorkspace(bool installFailed);

// Cleans up after a run that came to outcome (installFailed unless it is Installed) and returns
// outcome, or WorkspaceReplaced with the cleanup's line in record when the expansion directory had
// been replaced.
Outcome EndWithCleanup(Outcome outcome, RunRecord* record);
