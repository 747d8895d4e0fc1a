#pragma once
// The launcher's two process-wide values. Each is written once at start-up, before anything reads
// it, and lives until the process ends.

#include <string>

#include "common/launch_options.h"

// The directory the launcher was started from: argv[0] up to its last backslash (or the running
// executable's directory when argv[0] holds none). Written by RunLauncher; read by the cabinet
// search and as the working directory of every program the launcher starts.
extern std::string launcherDirectory;

// The parsed command line. Written by ParseCommandLine; ValidatePortOptions may also set its
// installFailed flag, which the workspace cleanup reads.
extern LaunchOptions launchOptions;
