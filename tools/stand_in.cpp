#include "tools/stand_in.h"

#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/package_layout.h"
#include "common/process_state.h"
#include "launcher/run_sequence.h"
#include "platform/host_control.h"
#include "workspace/expansion_directory.h"

namespace fs = std::filesystem;

bool IsDrivePath(const std::string& path) {
  return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && path[2] == '\\';
}

bool IsProgram(const host::StartedProgram& program, const std::string& name) {
  const std::string& file = program.file;
  return file.size() > name.size() && file[file.size() - name.size() - 1] == '\\' &&
         strcasecmp(file.c_str() + file.size() - name.size(), name.c_str()) == 0;
}

std::vector<std::string> QuotedTexts(const std::string& parameters) {
  std::vector<std::string> texts;
  std::size_t open = parameters.find('"');
  while (open != std::string::npos) {
    std::size_t close = parameters.find('"', open + 1);
    if (close == std::string::npos) break;
    texts.push_back(parameters.substr(open + 1, close - open - 1));
    open = parameters.find('"', close + 1);
  }
  return texts;
}

StandInWindows::StandInWindows(const StandInSetup& setup) {
  const char* scratch = std::getenv("TMPDIR");
  std::string pattern =
      std::string(scratch != nullptr && *scratch != '\0' ? scratch : "/tmp") + "/launcher-stand-in-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory in " + pattern);
  root_ = pattern;
  host::Reset(root_);
  host::SetFileNamesIgnoreCase(setup.fileNamesIgnoreCase);
  host::SetEnvironment("TEMP", setup.temp);
  host::SetWow64(setup.windows64);
  host::SetConsoleWindow(setup.consoleWindow);
  host::SetPersonSees(setup.personSees);
  host::SetStandardInput("");
  host::SetExecutablePath(setup.launcherPath);
  host::SetProcessNames({LauncherFileName(setup.launcherPath)});
  launcherDirectory.clear();
  temporaryDirectory = TemporaryDirectory();
  launchOptions = LaunchOptions();
  host::SetSystemDirectory("C:\\Windows\\system32");
  WriteFile("C:\\Windows\\system32\\extrac32.exe", "stand-in");
  if (IsDrivePath(setup.launcherPath)) WriteFile(setup.launcherPath, "stand-in");
  if (IsDrivePath(setup.temp)) fs::create_directories(host::HostPath(setup.temp));
  // Named, not bound: the stand-in's cabinet is a table of the package folder, which no hash fits.
  if (!setup.package.product.empty()) {
    std::string unbound =
        PACKAGE_BINDING_MAGIC + std::string(PACKAGE_BINDING_CARRIED_SIZE - PACKAGE_BINDING_MAGIC_SIZE, '\0');
    host::SetOwnResource(package::kBindingResource, WithIdentity(unbound, setup.package));
  }
}

StandInWindows::~StandInWindows() {
  ReleaseExpansionDirectory();
  temporaryDirectory = TemporaryDirectory();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void StandInWindows::WriteFile(const std::string& windowsPath, const std::string& bytes) {
  fs::path file = host::HostPath(windowsPath);
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}
