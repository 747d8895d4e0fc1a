#include "settings/port_mode.h"

#include "common/console.h"
#include "common/process_state.h"
#include "platform/platform.h"
#include "settings/reader.h"

bool IsPortOnCommandLineMode() { return SettingsFileHasLine("Port=CmdLine", SettingsFilePath()); }

bool ValidatePortOptions() {
  if (!IsPortOnCommandLineMode()) return true;
  if (launchOptions.portGiven && launchOptions.addressGiven) return true;
  // A printer share names its server itself and needs no address.
  if (launchOptions.portIsNetworkShare) return true;

  ShowConsoleWindowIfAny(platform::kShowNormal);
  PrintLine("Error - package is configured for port and address or hostname on cmd line, but");
  PrintLine("these params were not found");
  if (!launchOptions.portGiven) PrintLine("/port: parameter not found or no value was specified");
  if (!launchOptions.addressGiven) PrintLine("/address: parameter not found or no value was specified");
  return false;
}
