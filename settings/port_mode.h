#pragma once

#include "common/launch_options.h"

// Returns true when the settings file holds the whole line "Port=CmdLine": the package takes its
// printer port from the command line. Reads the file anew at every call.
bool IsPortOnCommandLineMode();

// Returns true when options name all that such a package needs: "/port:" and "/address:", or a
// port that is a printer share, which names its server itself. Reads nothing else.
bool PortOptionsSuffice(const LaunchOptions& options);
