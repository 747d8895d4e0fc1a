#include "installer/selection.h"

#include "common/package_layout.h"
#include "platform/platform.h"
#include "workspace/expansion_directory.h"

std::string GetInstallerPath() {
  return ExpansionDirectory() + "\\" + (platform::RunsUnderWow64() ? package::kInstallerX64 : package::kInstallerX86);
}
