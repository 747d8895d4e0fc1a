#include "installer/selection.h"

#include "platform/platform.h"
#include "workspace/locations.h"

std::string GetInstallerPath() {
  return ExpansionDirectory() +
         (platform::RunsUnderWow64() ? "\\install\\x64\\InstallGui.exe" : "\\install\\x86\\InstallGui.exe");
}
