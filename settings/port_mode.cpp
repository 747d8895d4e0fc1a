#include "settings/port_mode.h"

#include "settings/reader.h"

bool IsPortOnCommandLineMode() { return SettingsFileHasLine("Port=CmdLine", SettingsFilePath()); }

bool PortOptionsSuffice(const LaunchOptions& options) {
  return (options.portGiven && options.addressGiven) || options.portIsNetworkShare;
}
