#include "installer/orchestration.h"

#include <optional>

#include "common/console.h"
#include "common/process_state.h"
#include "installer/selection.h"
#include "platform/platform.h"
#include "settings/port_mode.h"
#include "settings/port_rewrite.h"
#include "settings/reader.h"
#include "workspace/cleanup.h"
#include "workspace/process_runner.h"

namespace {

// Enters the command line's port into a package that takes it from there. Returns false when the
// options are missing; the run then stops.
bool ApplyPortStep() {
  if (!IsPortOnCommandLineMode()) return true;
  if (!ValidatePortOptions()) return false;
  RewritePortConfiguration(launchOptions.portName, launchOptions.printerAddress);
  return true;
}

bool StopForMissingPortOptions() {
  CleanUpWorkspace();
  BringConsoleWindowToForeground();
  WaitForEnter();
  return false;
}

}  // namespace

bool RequestsStandaloneRun(const std::string& settingsFilePath) {
  for (const char* key : {"License=1", "PortRuntimeDiscover=1", "DisplayUI=1"}) {
    if (SettingsFileHasLine(key, settingsFilePath)) return true;
  }
  return false;
}

bool RunStandaloneInstall() {
  PrintLine("Running Install...");
  // The rewrite before the decision has normally replaced "Port=CmdLine", so this step only acts
  // when the port name itself is "CmdLine", or when that rewrite failed and left the file as it was.
  if (!ApplyPortStep()) return StopForMissingPortOptions();
  std::optional<std::string> parameters;
  if (launchOptions.languageGiven) parameters = launchOptions.languageCode;
  RunAndWait(GetInstallerPath(), parameters, platform::kShowNormal);
  CleanUpWorkspace();
  return true;
}

bool RunInstall() {
  const std::string settingsFilePath = SettingsFilePath();
  if (!ApplyPortStep()) return StopForMissingPortOptions();
  if (RequestsStandaloneRun(settingsFilePath)) return RunStandaloneInstall();

  PrintLine("Running Install...");
  // Unquoted, blanks included: the installer takes all that follows "/I:" as the path.
  RunAndWait(GetInstallerPath(), "/I:" + settingsFilePath, platform::kShowNormal);
  CleanUpWorkspace();
  return true;
}
