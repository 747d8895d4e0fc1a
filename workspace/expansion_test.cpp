#include "workspace/expansion.h"

#include "testing/host_test_fixture.h"

namespace {

using ExpandPackageTest = LauncherTest;

TEST_F(ExpandPackageTest, CreatesTheDirectoryAndRunsTheToolHidden) {
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  SetPackage({{"install\\component.isf", "x"}});
  EXPECT_EQ(ExpandPackage(), Expansion::Done);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files..."}));
  ASSERT_EQ(host::StartedPrograms().size(), 1u);
  const host::StartedProgram& tool = host::StartedPrograms()[0];
  EXPECT_EQ(tool.file, "C:\\Windows\\system32\\extrac32.exe");
  EXPECT_EQ(tool.parameters, "/Y /A /E /L \"C:\\Temp\\TempExpandedFiles\" \"C:\\pkg\\Setup.cab\"");
  EXPECT_EQ(tool.workingDirectory, "C:\\pkg");
  EXPECT_EQ(tool.showCommand, 0);
  EXPECT_EQ(ReadFile("C:\\Temp\\TempExpandedFiles\\install\\component.isf"), "x");
  // Both lines come before the tool starts; the wait, then the pause, after it.
  const std::vector<std::string>& events = host::Events();
  EXPECT_EQ(std::vector<std::string>(events.end() - 4, events.end()),
            (std::vector<std::string>{"line:Expanding Install Files...", "start:C:\\Windows\\system32\\extrac32.exe",
                                      "wait", "sleep:2"}));
}

TEST_F(ExpandPackageTest, NoCabinetIsSilent) {
  EXPECT_EQ(ExpandPackage(), Expansion::NotStarted);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(ExpandPackageTest, NeitherToolNorCabinetReportsTheTool) {
  host::SetSystemDirectory("");
  EXPECT_EQ(ExpandPackage(), Expansion::NotStarted);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to locate the extrac32.exe utility."}));
}

TEST_F(ExpandPackageTest, EveryProgramIsFollowedByTheTwoMillisecondPause) {
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  host::SetSystemDirectory("C:\\Missing");  // the tool does not start: no wait, the pause all the same
  EXPECT_EQ(ExpandPackage(), Expansion::Done);
  EXPECT_EQ(host::Events().back(), "sleep:2");
  EXPECT_TRUE(EventsStartingWith("wait").empty());
}

TEST_F(ExpandPackageTest, NoSystemDirectoryIsReportedEvenWithACabinet) {
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  host::SetSystemDirectory("");
  EXPECT_EQ(ExpandPackage(), Expansion::NotStarted);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to locate the extrac32.exe utility."}));
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(ExpandPackageTest, UnusableTempCreatesNothing) {
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  host::SetEnvironment("TEMP", "Temp");
  EXPECT_EQ(ExpandPackage(), Expansion::NotStarted);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to use the temporary directory: TEMP is not a full path."}));
  EXPECT_TRUE(host::StartedPrograms().empty());
}

TEST_F(ExpandPackageTest, BlankInPathsStaysInsideQuotes) {
  EXPECT_EQ(ExtractionParameters("C:\\Users\\John Smith\\Temp\\TempExpandedFiles", "C:\\My Pkg\\Setup.cab"),
            "/Y /A /E /L \"C:\\Users\\John Smith\\Temp\\TempExpandedFiles\" \"C:\\My Pkg\\Setup.cab\"");
}

}  // namespace
