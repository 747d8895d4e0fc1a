#pragma once
// The launcher's process-wide values. Each is written once in a run, before anything reads it, and
// lives until the process ends.

#include <string>

#include "common/launch_options.h"
#include "platform/platform.h"

// The directory the launcher's executable lies in, as the system reports the module's path (its
// short form where the code page cannot spell it; "" when there is none). Written by RunLauncher;
// read by the cabinet search and as the working directory of every program the launcher starts.
extern std::string launcherDirectory;

// The parsed command line. Written by ParseCommandLine; ValidatePortOptions may also set its
// installFailed flag.
extern LaunchOptions launchOptions;

// The temporary directory as the system resolved it, once: "temp"'s final path and its identity,
// or why it cannot be used. Written by ResolveTemporaryDirectory at its first use in a run (the
// expansion's), read by everything that forms a path in it and by the lock.
struct TemporaryDirectory {
  bool resolved = false;
  std::string problem;  // the "Unable to use the temporary directory: " line, or ""
  std::string path;     // the final path, "" with a problem
  std::string id;       // the directory's identity, the same however "temp" spells it
  // The expansion directory the run created in it, held from its creation to the end of the
  // cleanup, so that nobody can rename or replace it meanwhile.
  platform::HeldDirectory expansionDirectory;
};
extern TemporaryDirectory temporaryDirectory;
