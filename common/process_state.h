#pragma once
// The launcher's process-wide values. Each lives until the process ends; who writes it, and when,
// is said beside it.

#include <string>

#include "common/launch_options.h"

// The directory the launcher's executable lies in, as the system reports the module's path (its
// short form where the code page cannot spell it; "" when there is none). Written once, by the run
// sequence before it reads the command line; read by the cabinet search and as the working
// directory of every program the launcher starts.
extern std::string launcherDirectory;

// The parsed command line. Written once, by ParseCommandLine; read by the port step and the
// installer's start.
extern LaunchOptions launchOptions;

// The temporary directory as the system resolved it, once: "temp"'s final path and its identity,
// or why it cannot be used. Written whole by ResolveTemporaryDirectory, which the expansion calls
// first in a run; read by everything that forms a path in it and by the lock. The expansion
// directory's hold and name are not here: workspace/expansion_directory.cpp alone keeps them.
struct TemporaryDirectory {
  std::string problem;  // the "Unable to use the temporary directory: " line, or ""
  std::string path;     // the final path, "" with a problem
  std::string id;       // the directory's identity, the same however "temp" spells it
};
extern TemporaryDirectory temporaryDirectory;
