#include "testing/host_test_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/console.h"
#include "common/process_state.h"
#include "tools/cabinet_table.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"

namespace fs = std::filesystem;

void LauncherTest::SetUp() {
  char pattern[] = "/tmp/launcher-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  root_ = pattern;
  host::Reset(root_);
  FetchConsoleWindow();  // as the run sequence does at start, for tests that begin further in
  host::ClearRecords();
  launcherDirectory = "C:\\pkg";
  platform::ReleaseHeldDirectory(temporaryDirectory.expansionDirectory);
  temporaryDirectory = TemporaryDirectory();
  launchOptions = LaunchOptions();
  host::SetEnvironment("TEMP", "C:\\Temp");
  MakeDirectories("C:\\Temp");
  WriteFile("C:\\pkg\\Setup.exe", "launcher");
  WriteFile("C:\\Windows\\system32\\extrac32.exe", "tool");
  WriteFile("C:\\Windows\\system32\\cmd.exe", "interpreter");
  host::OnProgramStart([this](const host::StartedProgram& program) {
    if (program.file.size() >= 12 && program.file.compare(program.file.size() - 12, 12, "extrac32.exe") == 0) {
      for (const auto& [relative, bytes] : package_) {
        auto cut = cutShort_.find(relative);
        WriteFile(std::string(kExpansionDirectory) + "\\" + relative,
                  cut == cutShort_.end() ? bytes : bytes.substr(0, cut->second));
      }
    } else if (program.file.size() >= 14 && program.file.compare(program.file.size() - 14, 14, "InstallGui.exe") == 0) {
      settingsSeenByInstaller_.push_back(Exists(kSettingsFile) ? ReadFile(kSettingsFile) : "(missing)");
    } else if (program.file.size() >= 7 && program.file.compare(program.file.size() - 7, 7, "cmd.exe") == 0) {
      fs::remove_all(host::HostPath(kExpansionDirectory));
    }
  });
}

void LauncherTest::TearDown() {
  platform::ReleaseHeldDirectory(temporaryDirectory.expansionDirectory);
  temporaryDirectory = TemporaryDirectory();
  host::OnProgramStart(nullptr);
  fs::remove_all(root_);
}

void LauncherTest::MakeDirectories(const std::string& path) { fs::create_directories(host::HostPath(path)); }

void LauncherTest::WriteFile(const std::string& path, const std::string& bytes) {
  fs::path file = host::HostPath(path);
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string LauncherTest::ReadFile(const std::string& path) {
  std::ifstream file(host::HostPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool LauncherTest::Exists(const std::string& path) { return fs::exists(host::HostPath(path)); }

void LauncherTest::SetPackageWithSettings(const std::string& settings) {
  SetPackage({{"install\\component.isf", settings},
              {"install\\x86\\InstallGui.exe", "x86 installer"},
              {"install\\x64\\InstallGui.exe", "x64 installer"}});
}

void LauncherTest::HoldExpansionDirectory() {
  MakeDirectories(ExpansionDirectory());
  platform::ReleaseHeldDirectory(temporaryDirectory.expansionDirectory);
  temporaryDirectory.expansionDirectory = platform::HoldDirectory(ExpansionDirectory());
}

std::string LauncherTest::TempLockName() { return ExpansionLockName(platform::IdentifyDirectory("C:\\Temp").id); }

void LauncherTest::WriteCabinet(const std::string& path) {
  std::vector<CabinetFile> files;
  for (const auto& [relative, bytes] : package_)
    files.push_back({relative, false, static_cast<std::uint32_t>(bytes.size())});
  WriteFile(path, CabinetTableBytes(files));
}

std::vector<std::string> LauncherTest::EventsStartingWith(const std::string& prefix) {
  std::vector<std::string> matching;
  for (const std::string& event : host::Events()) {
    if (event.rfind(prefix, 0) == 0) matching.push_back(event);
  }
  return matching;
}
