#include "common/process_state.h"

std::string launcherDirectory;
LaunchOptions launchOptions;
TemporaryDirectory temporaryDirectory;
