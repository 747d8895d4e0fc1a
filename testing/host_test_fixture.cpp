#include "testing/host_test_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "common/console.h"
#include "common/process_state.h"
#include "common/run_log.h"
#include "tools/cabinet_table.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"

namespace fs = std::filesystem;

namespace {

// The region as the package tool's own writer makes it (testing/binding_region.py), so that a
// layout error shared by the launcher's reader and a writer of the tests' own cannot pass.
std::string RegionByThePackageTool(const std::string& digest, const std::string& extent) {
  std::string hex;
  char digits[3];
  for (unsigned char byte : digest) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  std::string command = "PACKAGE_INSPECT='" PACKAGE_INSPECT_PATH "' /usr/bin/python3 -B '" LAUNCHER_SOURCE_DIR
                        "/testing/binding_region.py' " +
                        hex + extent;
  std::FILE* output = popen(command.c_str(), "r");
  if (output == nullptr) throw std::runtime_error("cannot run " + command);
  std::string region;
  char buffer[256];
  for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, output)) > 0;) region.append(buffer, read);
  if (pclose(output) != 0) throw std::runtime_error("failed: " + command);
  return region;
}

}  // namespace

std::string BoundRegion(const std::string& digest) { return RegionByThePackageTool(digest, ""); }

std::string CarriedRegion(const std::string& digest, unsigned long offset, unsigned long size) {
  return RegionByThePackageTool(digest, " " + std::to_string(offset) + " " + std::to_string(size));
}

void LauncherTest::SetUp() {
  // A person's 32-bit Windows with a console window; exact names, so that a test sees the letter
  // case the launcher used.
  StandInSetup setup;
  setup.temp = "C:\\Temp";
  setup.windows64 = false;
  setup.personSees = true;
  setup.consoleWindow = true;
  setup.fileNamesIgnoreCase = false;
  standIn_ = std::make_unique<StandInWindows>(setup);
  ResolveTemporaryDirectory();  // as a run does first, for tests that begin further in
  FetchConsoleWindow();         // as the run sequence does at start, for tests that begin further in
  host::ClearRecords();
  launcherDirectory = "C:\\pkg";
  host::OnProgramStart([this](const host::StartedProgram& program) {
    if (IsProgram(program, "extrac32.exe")) {
      std::vector<std::string> paths = QuotedTexts(program.parameters.value_or(""));
      for (const auto& [relative, bytes] : package_) {
        auto cut = cutShort_.find(relative);
        WriteFile(paths.at(0) + "\\" + relative, cut == cutShort_.end() ? bytes : bytes.substr(0, cut->second));
      }
    } else if (IsProgram(program, "InstallGui.exe")) {
      settingsSeenByInstaller_.push_back(Exists(kSettingsFile) ? ReadFile(kSettingsFile) : "(missing)");
    }
  });
}

void LauncherTest::TearDown() {
  CloseRunLog();
  host::OnProgramStart(nullptr);
  standIn_.reset();
}

void LauncherTest::MakeDirectories(const std::string& path) { fs::create_directories(host::HostPath(path)); }

void LauncherTest::WriteFile(const std::string& path, const std::string& bytes) { standIn_->WriteFile(path, bytes); }

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
  ASSERT_EQ(ResolveTemporaryDirectory(), "");
  // Created as a run creates it; what the test wrote there before is moved in afterwards.
  fs::path planted = host::HostPath(ExpansionDirectory());
  fs::path waiting = planted.string() + ".planted";
  if (fs::exists(planted)) fs::rename(planted, waiting);
  ASSERT_EQ(CreateFreshExpansionDirectory(ExpansionDirectory()), "");
  if (!fs::exists(waiting)) return;
  for (const fs::directory_entry& entry : fs::directory_iterator(waiting))
    fs::rename(entry.path(), planted / entry.path().filename());
  fs::remove(waiting);
}

std::string LauncherTest::TempLockName() {
  // Written out, not formed by the code under test: the lock is system-wide, in Global\.
  return "Global\\TempExpandedFiles-" + platform::IdentifyDirectory("C:\\Temp").id;
}

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

void LauncherTest::OpenTestLog() {
  MakeDirectories("C:\\Logs");  // made by the test, so that the launcher's own folders are all it records
  ASSERT_EQ(OpenRunLog("C:\\Logs\\test.log"), "");
}

std::vector<std::string> LauncherTest::LoggedEntries() {
  static const std::regex kEntry(R"re(<!\[LOG\[(.*?)\]LOG\]!>.*? type="(\d)")re");
  std::string log = ReadFile("C:\\Logs\\test.log");
  std::vector<std::string> entries;
  for (std::sregex_iterator it(log.begin(), log.end(), kEntry), end; it != end; ++it)
    entries.push_back((*it)[2].str() + " " + (*it)[1].str());
  return entries;
}

bool LauncherTest::Logged(const std::string& entry) {
  std::vector<std::string> entries = LoggedEntries();
  return std::find(entries.begin(), entries.end(), entry) != entries.end();
}
