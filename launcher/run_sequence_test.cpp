#include "launcher/run_sequence.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "common/process_state.h"
#include "launcher/run_event.h"
#include "testing/help_screen.h"
#include "testing/host_test_fixture.h"
#include "workspace/package_binding.h"

namespace {

class RunLauncherTest : public LauncherTest {
 protected:
  int Run(std::vector<std::string> arguments, const std::string& startedAs = "C:\\pkg\\Setup.exe") {
    arguments.insert(arguments.begin(), startedAs);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    return RunLauncher(static_cast<int>(argv.size()), argv.data());
  }
};

TEST_F(RunLauncherTest, HelpRoad) {
  EXPECT_EQ(Run({"/?"}), 0);
  EXPECT_EQ(Lines(), HelpScreenForSetupExe());
  EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1", "window:5"}));
  EXPECT_TRUE(host::StartedPrograms().empty());
}

TEST_F(RunLauncherTest, InvalidRoadPrintsMessageThenHelp) {
  EXPECT_EQ(Run({"/port:x", "/bogus"}), 10);
  std::vector<std::string> expected = {"Invalid Parameters."};
  for (const std::string& line : HelpScreenForSetupExe()) expected.push_back(line);
  EXPECT_EQ(Lines(), expected);
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_FALSE(Exists(kExpansionDirectory));
  // Shown at start, shown again before the message, then the help screen's own SW_SHOW.
  EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1", "window:1", "window:5"}));
  EXPECT_EQ(EventsStartingWith("line:Invalid").size(), 1u);
  std::vector<std::string> order;
  for (const std::string& event : host::Events()) {
    if (event == "window:1" || event == "line:Invalid Parameters.") order.push_back(event);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"window:1", "window:1", "line:Invalid Parameters."}));
}

TEST_F(RunLauncherTest, SecondCopyRefusesEvenForHelp) {
  host::SetProcessNames({"Setup.exe", "Setup.exe"});
  host::SetStandardInput("\n");
  EXPECT_EQ(Run({"/?"}), 1);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"Error : Already another instance is running", "Press ENTER to continue"}));
  EXPECT_EQ(EventsStartingWith("foreground").size(), 1u);
  EXPECT_EQ(EventsStartingWith("read-input").size(), 1u);
  EXPECT_TRUE(host::StartedPrograms().empty());
}

TEST_F(RunLauncherTest, SecondCopyWithoutConsoleWindowStillPauses) {
  host::SetProcessNames({"Setup.exe", "Setup.exe"});
  host::SetConsoleWindow(false);
  EXPECT_EQ(Run({}), 1);
  EXPECT_TRUE(EventsStartingWith("foreground").empty());
  EXPECT_EQ(EventsStartingWith("read-input").size(), 1u);
}

TEST_F(RunLauncherTest, MissingCabinetNamesTheDerivedCabinet) {
  EXPECT_EQ(Run({}), 10);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to extract cab:  Setup.cab"}));
  EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1", "window:0", "window:1"}));
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(RunLauncherTest, MissingCabinetMessageForOtherNames) {
  host::SetExecutablePath("C:\\pkg\\setup.x86.exe");
  EXPECT_EQ(Run({}, "C:\\pkg\\setup.x86.exe"), 10);
  host::SetExecutablePath("C:\\pkg\\SETUP.EXE");
  EXPECT_EQ(Run({}, "C:\\pkg\\SETUP.EXE"), 10);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"Unable to extract cab:  setup.x86.cab", "Unable to extract cab:  SETUP.cab"}));
}

TEST_F(RunLauncherTest, InstallRoadEndsWithCodeZeroAndWindowShown) {
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet();
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files...",
                                               "Running Install...", "Install Complete, Beginning Cleanup...",
                                               "Cleanup Complete."}));
  EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1", "window:0", "window:1"}));
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(RunLauncherTest, ExpansionDirectoryInUseGivesTheGuardsAnswer) {
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet();
  WriteFile("C:\\Temp\\TempExpandedFiles\\install\\component.isf", "another run's");
  host::HoldLockElsewhere(TempLockName());
  EXPECT_EQ(Run({}, "C:\\pkg\\Setup2.exe"), 1);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"Error : Already another instance is running", "Press ENTER to continue"}));
  EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1", "window:0", "window:1"}));
  EXPECT_EQ(EventsStartingWith("foreground").size(), 1u);
  EXPECT_EQ(EventsStartingWith("read-input").size(), 1u);
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_EQ(ReadFile(kSettingsFile), "another run's");
}

TEST_F(RunLauncherTest, FolderTheCodePageCannotSpellIsUsedByItsShortForm) {
  // Started from "C:\Папка с пробелами": the narrow argv[0] holds "?", the system's answers the short form.
  host::SetExecutablePath("C:\\____~4CG\\Setup.exe");
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet("C:\\____~4CG\\InstallFiles.cab");
  EXPECT_EQ(Run({}, "C:\\????? ? ?????????\\Setup.exe"), 0);
  EXPECT_EQ(launcherDirectory, "C:\\____~4CG");
  ASSERT_EQ(host::StartedPrograms().size(), 2u);
  EXPECT_EQ(host::StartedPrograms()[0].parameters,
            "/Y /A /E /L \"C:\\Temp\\TempExpandedFiles\" \"C:\\____~4CG\\InstallFiles.cab\"");
  for (const host::StartedProgram& program : host::StartedPrograms())
    EXPECT_EQ(program.workingDirectory, "C:\\____~4CG");
  host::ClearRecords();
  EXPECT_EQ(Run({"/?"}, "C:\\????? ? ?????????\\Setup.exe"), 0);
  EXPECT_EQ(Lines().front(), "Help Menu for Setup.exe");
}

TEST_F(RunLauncherTest, FolderWithoutAShortNameStopsBeforeTheCabinetSearch) {
  host::SetExecutablePath("");
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  EXPECT_EQ(Run({}, "C:\\?????\\Setup.exe"), 10);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to use the launcher's directory: its name holds characters that "
                                               "the system's code page cannot spell, and it has no short name.",
                                               "Unable to extract cab:  Setup.cab"}));
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(RunLauncherTest, WhereNobodySeesTheScreenNothingWaitsForAPerson) {
  SetPackageWithSettings("[Install]\r\nPort=CmdLine\r\n");
  WriteCabinet();
  host::SetStandardInput("\n\n\n");
  for (bool personSees : {true, false}) {
    SCOPED_TRACE(personSees ? "a person's screen" : "session 0");
    host::SetPersonSees(personSees);
    std::size_t reads = personSees ? 1 : 0;

    host::ClearRecords();
    host::SetProcessNames({"Setup.exe", "Setup.exe"});
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(Lines().back(), "Press ENTER to continue");
    EXPECT_EQ(EventsStartingWith("read-input").size(), reads);

    // The package takes its port from the command line, and none was given.
    host::ClearRecords();
    host::SetProcessNames({"Setup.exe"});
    launchOptions = LaunchOptions();
    EXPECT_EQ(Run({}), 10);
    EXPECT_EQ(Lines().back(), "Press ENTER to continue");
    EXPECT_EQ(EventsStartingWith("read-input").size(), reads);
    ASSERT_EQ(host::StartedPrograms().size(), 1u);  // extrac32.exe

    host::ClearRecords();
    launchOptions = LaunchOptions();
    EXPECT_EQ(Run({"/port:IP_1", "/address:10.0.0.1"}), 0);
    ASSERT_EQ(host::StartedPrograms().size(), 2u);  // and the installer
    // Without a time limit nothing runs in a job: the installer's children outlive it as before.
    for (const host::StartedProgram& program : host::StartedPrograms()) EXPECT_FALSE(program.inJob);
  }
}

TEST_F(RunLauncherTest, ConsoleWindowIsFetchedOnceAndKept) {
  SetPackageWithSettings("[Install]\r\nPort=CmdLine\r\n");
  WriteCabinet();
  EXPECT_EQ(Run({}), 10);  // every road that touches the window: hide, show, validation, foreground
  EXPECT_EQ(EventsStartingWith("console-window").size(), 1u);
  EXPECT_EQ(host::Events().front(), "console-window");
  EXPECT_EQ(EventsStartingWith("window:"), (std::vector<std::string>{"window:1", "window:0", "window:1"}));
  EXPECT_EQ(EventsStartingWith("foreground").size(), 1u);
  // Without a console window nothing is shown or brought forward, and the lines are still printed.
  host::ClearRecords();
  host::SetConsoleWindow(false);
  launchOptions = LaunchOptions();
  EXPECT_EQ(Run({}), 10);
  EXPECT_TRUE(EventsStartingWith("window").empty());
  EXPECT_TRUE(EventsStartingWith("foreground").empty());
  EXPECT_FALSE(Lines().empty());
}

TEST_F(RunLauncherTest, EveryRoadButHelpWritesOneEventBeforeAnyPause) {
  using platform::EventType;
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::function<void()> arrange;
    int exitCode;
    EventType type;
    unsigned id;
  };
  for (const Case& c : std::vector<Case>{
           {"install", {}, [] {}, 0, EventType::Information, 1000},
           {"guard",
            {},
            [] {
              host::SetProcessNames({"Setup.exe", "Setup.exe"});
            },
            1,
            EventType::Warning,
            1001},
           {"invalid", {"/bogus"}, [] {}, 10, EventType::Error, 1002},
           {"no cabinet",
            {},
            [] { std::filesystem::remove(host::HostPath("C:\\pkg\\Setup.cab")); },
            10,
            EventType::Error,
            1003},
           {"port missing",
            {},
            [this] {
              SetPackageWithSettings("Port=CmdLine\n");
              WriteCabinet();
            },
            10,
            EventType::Error,
            1004},
           {"cut short", {}, [this] { CutShortOnExpansion("install\\component.isf", 3); }, 10, EventType::Error, 1005},
           {"a path past MAX_PATH, refused before the expansion",
            {},
            [this] {
              SetPackage({{"install\\" + std::string(240, 'n'), "x"}});
              WriteCabinet();
            },
            10,
            EventType::Error,
            1003},
       }) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    SetPackageWithSettings("[Install]\r\n");
    WriteCabinet();
    c.arrange();
    EXPECT_EQ(Run(c.arguments), c.exitCode);
    ASSERT_EQ(host::WrittenEvents().size(), 1u);
    const host::WrittenEvent& event = host::WrittenEvents()[0];
    EXPECT_EQ(event.source, "Printer Package Launcher");
    EXPECT_EQ(event.type, c.type);
    EXPECT_EQ(event.id, c.id);
    EXPECT_EQ(event.strings[1], "Exit code: " + std::to_string(c.exitCode));
    // After every program the run started, before the pause of the roads that have one.
    const std::vector<std::string>& events = host::Events();
    auto written = std::find(events.begin(), events.end(), "event:" + std::to_string(c.id));
    auto isStart = [](const std::string& event) { return event.rfind("start:", 0) == 0; };
    EXPECT_EQ(std::find_if(written, events.end(), isStart), events.end());
    EXPECT_EQ(std::find(events.begin(), written, "read-input"), written);

    // A log that cannot be written changes nothing.
    std::vector<std::string> lines = Lines();
    TearDown();
    SetUp();
    SetPackageWithSettings("[Install]\r\n");
    WriteCabinet();
    c.arrange();
    host::FailWritingEvents();
    EXPECT_EQ(Run(c.arguments), c.exitCode);
    EXPECT_EQ(Lines(), lines);
  }
  // Afresh: the last case left event writing failing.
  TearDown();
  SetUp();
  EXPECT_EQ(Run({"/?"}), 0);
  EXPECT_TRUE(host::WrittenEvents().empty()) << "the help screen writes none";
}

TEST_F(RunLauncherTest, TheEventSaysWhatTheRunFoundAndStarted) {
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet();
  host::SetCommandLine("\"C:\\pkg\\Setup.exe\" /l:de");
  host::SetExitCode("InstallGui.exe", 3);
  EXPECT_EQ(Run({"/l:de"}), 0) << "an installer's own exit code is the package's business";
  ASSERT_EQ(host::WrittenEvents().size(), 1u);
  std::string size = std::to_string(ReadFile("C:\\pkg\\Setup.cab").size());
  EXPECT_EQ(
      host::WrittenEvents()[0].strings,
      (std::vector<std::string>{"Outcome: The installer ran and ended.", "Exit code: 0", "Failure: none",
                                "Launcher: C:\\pkg\\Setup.exe", "Command line: \"C:\\pkg\\Setup.exe\" /l:de",
                                "Cabinet: C:\\pkg\\Setup.cab, " + size + " bytes", "Temporary directory: C:\\Temp",
                                "Installer: C:\\Temp\\TempExpandedFiles\\install\\x86\\InstallGui.exe "
                                "/I:C:\\Temp\\TempExpandedFiles\\install\\component.isf",
                                "Installer exit code: 3 (0x00000003)", "Duration: 0.000 s", "Package: none"}));
  RunRecord bound;
  bound.cabinetPath = "C:\\pkg\\Setup.cab";
  bound.cabinetDigest = std::string(31, '\0') + "\xab";
  std::vector<std::string> strings = RunEventStrings(Outcome::InstallerCrashed, bound, 10, 61234);
  EXPECT_EQ(strings[5], "Cabinet: C:\\pkg\\Setup.cab, SHA-256 " + std::string(62, '0') + "ab");
  EXPECT_EQ(strings[7], "Installer: not started");
  EXPECT_EQ(strings[9], "Duration: 61.234 s");
  EXPECT_EQ(RunEventStrings(Outcome::InvalidParameters, RunRecord(), 10, 0)[6],
            "Temporary directory: C:\\Temp (not used)");
  host::UnsetEnvironment("TEMP");
  EXPECT_EQ(RunEventStrings(Outcome::InvalidParameters, RunRecord(), 10, 0)[6], "Temporary directory: not set");

  // A launcher that names its package says so last, on every road, the ten before it unchanged.
  std::vector<std::string> unnamed = RunEventStrings(Outcome::AnotherInstance, bound, 1, 5);
  host::SetOwnResource("PACKAGE_BINDING", WithIdentity(BoundRegion(std::string(32, '\x11')),
                                                       {"Contoso Universal Print Driver", "2.1.0", "Contoso"}));
  std::vector<std::string> named = RunEventStrings(Outcome::AnotherInstance, bound, 1, 5);
  ASSERT_EQ(named.size(), 11u);
  EXPECT_EQ(named[10], "Package: Contoso Universal Print Driver 2.1.0");
  EXPECT_EQ(std::vector<std::string>(named.begin(), named.begin() + 10),
            std::vector<std::string>(unnamed.begin(), unnamed.begin() + 10));
}

TEST_F(RunLauncherTest, ADirectorySwappedInDuringTheExpansionStartsNothingAndTheRunEndsAsReplaced) {
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet();
  // Whoever may write to TEMP renames the fresh directory away once it is filled, and puts a
  // folder of their own with the same files in its place.
  host::OnProgramStart([this](const host::StartedProgram& program) {
    if (program.file.find("extrac32.exe") == std::string::npos) return;
    const std::map<std::string, std::string> files = {{"install\\component.isf", "[Install]\r\n"},
                                                      {"install\\x86\\InstallGui.exe", "x86 installer"},
                                                      {"install\\x64\\InstallGui.exe", "x64 installer"}};
    for (const auto& [name, bytes] : files) WriteFile(std::string(kExpansionDirectory) + "\\" + name, bytes);
    std::filesystem::rename(host::HostPath(kExpansionDirectory), host::HostPath("C:\\Temp\\Moved"));
    for (const auto& [name, bytes] : files) WriteFile(std::string(kExpansionDirectory) + "\\" + name, bytes);
  });
  EXPECT_EQ(Run({}), 10);
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + 2, lines.end()),
      (std::vector<std::string>{
          "Running Install...",
          "Unable to start the installer: TempExpandedFiles is no longer the directory this run created.",
          "Install Failed, Beginning Cleanup...",
          "Unable to use the temporary directory: TempExpandedFiles in it is no longer the one this run created; it "
          "was left alone.",
          "Cleanup Complete."}));
  ASSERT_EQ(host::StartedPrograms().size(), 1u) << "extrac32.exe only: no installer";
  EXPECT_TRUE(Exists(std::string(kExpansionDirectory) + "\\install\\x86\\InstallGui.exe"));
  EXPECT_FALSE(Exists("C:\\Temp\\Moved")) << "the run's own directory, removed through its hold where it went";
  ASSERT_EQ(host::WrittenEvents().size(), 1u);
  EXPECT_EQ(host::WrittenEvents()[0].id, 1010u);
  EXPECT_EQ(host::WrittenEvents()[0].strings[2], "Failure: " + lines.end()[-2]);
}

TEST_F(RunLauncherTest, FolderTheCodePageCanSpellKeepsItsLongName) {
  // Its short form exists, but the installer works in the folder as it is named, which its own
  // messages and logs show.
  host::SetExecutablePath("C:\\Printer Packages\\Setup.exe");
  host::SetShortPath("C:\\Printer Packages", "C:\\PRINTE~1");
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet("C:\\Printer Packages\\InstallFiles.cab");
  EXPECT_EQ(Run({}, "Setup.exe"), 0);
  EXPECT_EQ(launcherDirectory, "C:\\Printer Packages");
  for (const host::StartedProgram& program : host::StartedPrograms())
    EXPECT_EQ(program.workingDirectory, "C:\\Printer Packages");
}

TEST_F(RunLauncherTest, TheDirectoryIsTheExecutablesWhateverTheStartingPath) {
  host::SetExecutablePath("D:\\deploy\\Setup.exe");
  SetPackageWithSettings("[Install]\r\n");
  WriteCabinet("D:\\deploy\\InstallFiles.cab");
  for (const char* startedAs : {"setup", "sub\\Setup.exe", "C:\\elsewhere\\Setup.exe", "D:/deploy/Setup.exe"}) {
    SCOPED_TRACE(startedAs);
    host::ClearRecords();
    EXPECT_EQ(Run({}, startedAs), 0);
    EXPECT_EQ(launcherDirectory, "D:\\deploy");
    ASSERT_FALSE(host::StartedPrograms().empty());
    EXPECT_EQ(host::StartedPrograms()[0].parameters,
              "/Y /A /E /L \"C:\\Temp\\TempExpandedFiles\" \"D:\\deploy\\InstallFiles.cab\"");
    EXPECT_EQ(host::StartedPrograms()[0].workingDirectory, "D:\\deploy");
  }
  EXPECT_EQ(LauncherFileName("C:\\pkg\\sub\\Setup.exe"), "Setup.exe");
  EXPECT_EQ(LauncherFileName("D:/deploy/Setup.exe"), "D:/deploy/Setup.exe");
}

TEST_F(RunLauncherTest, AnInstallerPastItsTimeLimitIsStoppedWithAllItStarted) {
  for (bool jobs : {true, false}) {
    TearDown();
    SetUp();
    SetPackageWithSettings("[Install]\r\n");
    WriteCabinet();
    host::RunForever("InstallGui.exe");
    if (!jobs) host::FailJobs(5);  // a Windows 7 whose launcher runs in a job already
    EXPECT_EQ(Run({jobs ? "/timeout:1" : "/timeout:90", "/exitcodes:msi", "/log:C:\\Logs\\run.log"}), 1603);
    std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{"Running Install...",
                                        jobs ? "The installer did not end within 1 minute and was stopped."
                                             : "The installer did not end within 90 minutes and was stopped.",
                                        "Install Failed, Beginning Cleanup...", "Cleanup Complete."}));
    EXPECT_EQ(host::WrittenEvents()[0].id, 1009u);
    EXPECT_EQ(EventsStartingWith("job").size(), jobs ? 1u : 0u);
    EXPECT_EQ(EventsStartingWith(jobs ? "end-job:1460 within 30000" : "end-process:1460 within 30000").size(), 1u);
    EXPECT_EQ(EventsStartingWith("wait-within:").back(), jobs ? "wait-within:60000" : "wait-within:5400000");
    EXPECT_FALSE(Exists(kExpansionDirectory));
    EXPECT_EQ(
        ReadFile("C:\\Logs\\run.log").find("(system error 5): at its time limit only it is ended") != std::string::npos,
        !jobs);
  }
}

TEST_F(RunLauncherTest, ALogThatCannotBeWrittenChangesNothingOfTheRun) {
  const std::string place = "C:\\Windows\\Logs\\Software\\Setup.log";
  std::vector<std::string> lines;
  for (auto [spoil, logged] : std::vector<std::pair<std::function<void()>, std::string>>{
           {[] {}, ""},
           {[this, place] {
              WriteFile("C:\\Secret.txt", "secret");
              MakeDirectories("C:\\Windows\\Logs\\Software");
              std::filesystem::create_symlink(host::HostPath("C:\\Secret.txt"), host::HostPath(place));
            },
            place + " was not written: a link or junction stands in its place"},
           {[] { host::FailOpening("Setup.log"); }, place + " was not written: it could not be opened for appending"},
           {[] { host::FailWritingAfter("Setup.log", 900); }, place},
       }) {
    TearDown();
    SetUp();
    SetPackageWithSettings("[Install]\r\nPort=CmdLine\r\n");
    WriteCabinet();
    spoil();
    std::vector<std::string> arguments = {"/port:IP_1", "/address:10.0.0.1"};
    if (!logged.empty()) arguments.insert(arguments.begin() + 1, "/log");
    EXPECT_EQ(Run(arguments), 0);
    if (lines.empty()) lines = Lines();
    EXPECT_EQ(Lines(), lines);
    EXPECT_EQ(settingsSeenByInstaller_.back(), settingsSeenByInstaller_.front());
    EXPECT_TRUE(EventsStartingWith("read-input").empty());
    const std::string& last = host::WrittenEvents()[0].strings.back();
    EXPECT_EQ(last.rfind("Log: ", 0) == 0 ? last : "no log", logged.empty() ? "no log" : "Log: " + logged);
    EXPECT_EQ(Exists("C:\\Secret.txt") ? ReadFile("C:\\Secret.txt") : "secret", "secret") << "the link's target";
  }
}

TEST(DerivedCabinetName, ReplacesAtMostThreeCharactersAfterTheLastDot) {
  EXPECT_EQ(DerivedCabinetName("Setup.exe"), "Setup.cab");
  EXPECT_EQ(DerivedCabinetName("setup.x86.exe"), "setup.x86.cab");
  EXPECT_EQ(DerivedCabinetName("SETUP.EXE"), "SETUP.cab");
  EXPECT_EQ(DerivedCabinetName("Setup.ex"), "Setup.cab");
  EXPECT_EQ(DerivedCabinetName("Setup.exe1"), "Setup.cab1");
  EXPECT_EQ(DerivedCabinetName("Setup."), "Setup.cab");
  EXPECT_EQ(DerivedCabinetName("setup"), "setup.cab");
}

}  // namespace
