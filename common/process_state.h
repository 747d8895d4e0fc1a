#pragma once
// The launcher's process-wide values. Each lives until the process ends; who writes it, and when,
// is said beside it.

#include <string>

#include "common/launch_options.h"
#include "platform/platform.h"

// The directory the launcher's executable lies in, as the system reports the module's path (its
// short form where the code page cannot spell it; "" when there is none). Written once, by the run
// sequence before it reads the command line; read by the cabinet search and as the working
// directory of every program the launcher starts.
extern std::string launcherDirectory;

// The parsed command line. Written once, by ParseCommandLine; read by the port step and the
// installer's start.
extern LaunchOptions launchOptions;

// The temporary directory as the system resolved it, once: "temp"'s final path and its identity,
// or why it cannot be used. Written whole by ResolveTemporaryDirectory at its first use in a run
// (the expansion's), read by everything that forms a path in it and by the lock.
struct TemporaryDirectory {
  bool resolved = false;
  std::string problem;  // the "Unable to use the temporary directory: " line, or ""
  std::string path;     // the final path, "" with a problem
  std::string id;       // the directory's identity, the same however "temp" spells it
  // The name of the expansion directory in it: "" for TempExpandedFiles, or the fresh name that the
  // creation took beside it because TempExpandedFiles there is someone else's.
  std::string expansionName;
  // The expansion directory the run created in it, held from its creation until the cleanup has
  // removed it, so that nobody can rename or replace it meanwhile. Entered by the creation,
  // emptied by the removal.
  platform::HeldDirectory expansionDirectory;
};
extern TemporaryDirectory temporaryDirectory;
