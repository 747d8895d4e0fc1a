#include "installer/orchestration.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#include "common/process_state.h"
#include "installer/selection.h"
#include "settings/reader.h"
#include "testing/host_test_fixture.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"

namespace {

const char kInstallerX86[] = "C:\\Temp\\TempExpandedFiles\\install\\x86\\InstallGui.exe";
const char kInstallerX64[] = "C:\\Temp\\TempExpandedFiles\\install\\x64\\InstallGui.exe";
const char kCleanupComplete[] = "Cleanup Complete.";

class RunInstallTest : public LauncherTest {
 protected:
  // Expands the package as the launcher would have before the install.
  void Expand(const std::string& settings) {
    for (const auto& file : std::map<std::string, std::string>{{"install\\component.isf", settings},
                                                               {"install\\x86\\InstallGui.exe", "x86"},
                                                               {"install\\x64\\InstallGui.exe", "x64"}}) {
      WriteFile(std::string(kExpansionDirectory) + "\\" + file.first, file.second);
    }
    HoldExpansionDirectory();
  }

  std::vector<host::StartedProgram> Installers() {
    std::vector<host::StartedProgram> installers;
    for (const host::StartedProgram& program : host::StartedPrograms()) {
      if (program.file.find("InstallGui.exe") != std::string::npos) installers.push_back(program);
    }
    return installers;
  }
};

TEST_F(RunInstallTest, SettingsRunGivesTheSettingsFilePath) {
  Expand("[Install]\r\nDisplayUI=0\r\n");
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Running Install...", "Install Complete, Beginning Cleanup...",
                                               kCleanupComplete}));
  ASSERT_EQ(Installers().size(), 1u);
  EXPECT_EQ(Installers()[0].file, kInstallerX86);
  EXPECT_EQ(Installers()[0].parameters, "/I:C:\\Temp\\TempExpandedFiles\\install\\component.isf");
  EXPECT_EQ(Installers()[0].showCommand, 1);
  EXPECT_EQ(Installers()[0].workingDirectory, "C:\\pkg");
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(RunInstallTest, SixtyFourBitWindowsGetsTheX64BuildAndBlanksStayUnquoted) {
  host::SetWow64(true);
  host::SetEnvironment("TEMP", "C:\\My Temp");
  WriteFile("C:\\My Temp\\TempExpandedFiles\\install\\x64\\InstallGui.exe", "x64");
  HoldExpansionDirectory();
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  ASSERT_EQ(Installers().size(), 1u);
  EXPECT_EQ(Installers()[0].file, "C:\\My Temp\\TempExpandedFiles\\install\\x64\\InstallGui.exe");
  EXPECT_EQ(Installers()[0].parameters, "/I:C:\\My Temp\\TempExpandedFiles\\install\\component.isf");
}

TEST_F(RunInstallTest, PortModeRewritesBeforeTheInstallerStarts) {
  Expand("[Install]\r\nPort=CmdLine\r\n");
  launchOptions.portName = "IP_10.0.0.5";
  launchOptions.printerAddress = "10.0.0.5";
  launchOptions.portGiven = launchOptions.addressGiven = true;
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  ASSERT_EQ(settingsSeenByInstaller_.size(), 1u);
  EXPECT_EQ(settingsSeenByInstaller_[0].rfind("[Install]\r\nPort=IP_10.0.0.5\r\n", 0), 0u);
  EXPECT_EQ(Installers()[0].parameters, "/I:C:\\Temp\\TempExpandedFiles\\install\\component.isf");
}

TEST_F(RunInstallTest, MissingPortOptionsAreNamedThenTheRunStopsAfterCleanup) {
  const std::string error[] = {"Error - package is configured for port and address or hostname on cmd line, but",
                               "these params were not found"};
  const std::string port = "/port: parameter not found or no value was specified";
  const std::string address = "/address: parameter not found or no value was specified";
  struct Case {
    bool port, address;
    std::vector<std::string> named;
  };
  for (const Case& c : {Case{true, false, {address}}, Case{false, true, {port}}, Case{false, false, {port, address}}}) {
    host::ClearRecords();
    Expand("[Install]\r\nPort=CmdLine\r\n");
    launchOptions.portName = c.port ? "LPT1:" : "";
    launchOptions.printerAddress = c.address ? "10.0.0.5" : "";
    launchOptions.portGiven = c.port;
    launchOptions.addressGiven = c.address;
    EXPECT_EQ(RunInstall(&record_), Outcome::PortOptionsMissing);
    std::vector<std::string> lines(std::begin(error), std::end(error));
    lines.insert(lines.end(), c.named.begin(), c.named.end());
    lines.insert(lines.end(), {"Install Failed, Beginning Cleanup...", kCleanupComplete});
    EXPECT_EQ(Lines(), lines);
    // The window is shown before the first error line.
    const std::vector<std::string>& events = host::Events();
    auto firstLine = std::find_if(events.begin(), events.end(),
                                  [](const std::string& event) { return event.rfind("line:", 0) == 0; });
    EXPECT_NE(std::find(events.begin(), firstLine, "window:1"), firstLine);
    EXPECT_TRUE(Installers().empty());
    EXPECT_FALSE(Exists(kExpansionDirectory));
  }
}

TEST_F(RunInstallTest, WithoutPortModeThePortOptionsDoNothing) {
  Expand("[Install]\r\nPort=CmdLine \r\n");
  launchOptions.portName = "X";
  launchOptions.portGiven = true;
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  EXPECT_EQ(settingsSeenByInstaller_[0], "[Install]\r\nPort=CmdLine \r\n");
}

TEST_F(RunInstallTest, StandaloneRunParameters) {
  Expand("[Install]\r\nDisplayUI=1\r\n");
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  ASSERT_EQ(Installers().size(), 1u);
  EXPECT_EQ(Installers()[0].parameters, std::nullopt);
  EXPECT_EQ(Installers()[0].showCommand, 1);  // shown normally, as the settings run's
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Running Install...", "Install Complete, Beginning Cleanup...",
                                               kCleanupComplete}));

  for (const char* language : {"/l:de", "/L:DE"}) {
    host::ClearRecords();
    Expand("[Install]\r\nDisplayUI=1\r\n");
    launchOptions.languageCode = language;
    launchOptions.languageGiven = true;
    EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
    ASSERT_EQ(Installers().size(), 1u);
    EXPECT_EQ(Installers()[0].parameters, language);
  }
}

TEST_F(RunInstallTest, StandaloneKeys) {
  struct Case {
    const char* settings;
    bool standalone;
  };
  for (const Case& c :
       {Case{"License=1\r\nDisplayUI=0\r\n", true}, Case{"PortRuntimeDiscover=1\n", true},
        Case{"DisplayUI=1 \r\n", false}, Case{"displayui=1\r\n", false}, Case{"License=10\r\n", false}}) {
    WriteFile(kSettingsFile, c.settings);
    EXPECT_EQ(RequestsStandaloneRun(kSettingsFile), c.standalone) << c.settings;
  }
}

TEST_F(RunInstallTest, FirstStandaloneKeyEndsTheLookups) {
  WriteFile(kSettingsFile, "License=1\r\nDisplayUI=1\r\n");
  EXPECT_TRUE(RequestsStandaloneRun(kSettingsFile));
  EXPECT_EQ(EventsStartingWith("open-read:").size(), 1u);
  host::ClearRecords();
  WriteFile(kSettingsFile, "DisplayUI=1\r\n");
  EXPECT_TRUE(RequestsStandaloneRun(kSettingsFile));
  EXPECT_EQ(EventsStartingWith("open-read:").size(), 3u);
}

TEST_F(RunInstallTest, StandaloneRunWithPortModeRewritesOnce) {
  Expand("[Install]\r\nPort=CmdLine\r\nDisplayUI=1\r\n");
  launchOptions.portName = "IP_1";
  launchOptions.printerAddress = "1.2.3.4";
  launchOptions.portGiven = launchOptions.addressGiven = true;
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Running Install...", "Install Complete, Beginning Cleanup...",
                                               kCleanupComplete}));
  EXPECT_EQ(EventsStartingWith("create-new:").size(), 1u);
}

// Kept on purpose: the standalone run repeats the port step.
TEST_F(RunInstallTest, PortNamedCmdLineIsRewrittenTwiceInTheStandaloneRun) {
  Expand("[Install]\r\nPort=CmdLine\r\nDisplayUI=1\r\n");
  launchOptions.portName = "CmdLine";
  launchOptions.printerAddress = "1.2.3.4";
  launchOptions.portGiven = launchOptions.addressGiven = true;
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  EXPECT_EQ(EventsStartingWith("create-new:").size(), 2u);
}

TEST_F(RunInstallTest, FailuresTheLauncherSeesEndTheRunAfterTheCleanup) {
  const std::string failed[] = {"Install Failed, Beginning Cleanup...", kCleanupComplete};
  struct Case {
    const char* what;
    std::function<void()> arrange;
    Outcome outcome;
    std::string line;  // "" for a run that went through
  };
  for (const Case& c : std::vector<Case>{
           {"no build for the machine", [] { std::filesystem::remove(host::HostPath(kInstallerX86)); },
            Outcome::NoInstallerForMachine,
            "Unable to install: the package holds no installer for 32-bit Windows (install\\x86\\InstallGui.exe)."},
           {"start refused", [] { host::FailStarting("InstallGui.exe", 5); }, Outcome::InstallerNotStarted,
            "Unable to start the installer: Access is denied."},
           {"not a program", [] { host::FailStarting("InstallGui.exe", 193); }, Outcome::InstallerNotStarted,
            std::string("Unable to start the installer: ") + kInstallerX86 + " is not a valid Win32 application."},
           {"no process", [] { host::FailStarting("InstallGui.exe", 0); }, Outcome::InstallerNotStarted,
            "Unable to start the installer: the system started no process for it."},
           {"access violation", [] { host::SetExitCode("InstallGui.exe", 0xC0000005); }, Outcome::InstallerCrashed,
            "The installer crashed with the exception 0xC0000005."},
           {"its own failure code", [] { host::SetExitCode("InstallGui.exe", 0xBFFFFFFF); }, Outcome::Installed, ""},
       }) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    Expand("[Install]\r\n");
    c.arrange();
    EXPECT_EQ(RunInstall(&record_), c.outcome);
    std::vector<std::string> lines = Lines();
    if (c.line.empty()) {
      EXPECT_EQ(lines.back(), kCleanupComplete);
      EXPECT_EQ(record_.installerExitCode, 0xBFFFFFFFul);
      continue;
    }
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{c.line, failed[0], failed[1]}));
    EXPECT_EQ(record_.failure, c.line);
    EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1"})) << "shown before the line";
    EXPECT_FALSE(Exists(kExpansionDirectory));
  }
}

TEST_F(RunInstallTest, MissingSettingsFileStillGetsTheSettingsRun) {
  host::SetWow64(true);
  WriteFile(kInstallerX64, "x64");
  HoldExpansionDirectory();
  EXPECT_EQ(RunInstall(&record_), Outcome::Installed);
  ASSERT_EQ(Installers().size(), 1u);
  EXPECT_EQ(Installers()[0].file, kInstallerX64);
  EXPECT_EQ(Installers()[0].parameters, "/I:C:\\Temp\\TempExpandedFiles\\install\\component.isf");
}

TEST_F(RunInstallTest, TempIsRefusedExactlyWhenAFormedPathWouldPassMaxPath) {
  // The longest paths a run forms: the installer, and the rewrite's temporary file.
  auto longest = [] { return std::max(GetInstallerPath().size(), (SettingsFilePath() + ".tmp").size()); };
  for (bool underWow64 : {false, true}) {
    host::SetWow64(underWow64);
    std::string temp = "C:\\" + std::string(211, 't');
    MakeDirectories(temp);
    MakeDirectories(temp + "t");
    host::SetEnvironment("TEMP", temp);
    EXPECT_EQ(temp.size(), 214u);
    EXPECT_EQ(ResolveTemporaryDirectory(), "");
    EXPECT_EQ(longest(), 259u);  // 260 with the terminating zero
    host::SetEnvironment("TEMP", temp + "t");
    EXPECT_EQ(ResolveTemporaryDirectory(),
              "Unable to use the temporary directory: TEMP is too long for the paths the launcher forms in it.");
  }
}

}  // namespace
