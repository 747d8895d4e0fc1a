#include "settings/port_mode.h"

#include "common/package_layout.h"
#include "settings/reader.h"

bool IsPortOnCommandLineMode() { return SettingsFileHasLine(package::kPortOnCommandLineLine, SettingsFilePath()); }

bool PortOptionsSuffice(const LaunchOptions& options) {
  return (options.portGiven && options.addressGiven) || options.portIsNetworkShare;
}
