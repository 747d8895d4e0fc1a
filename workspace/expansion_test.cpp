#include "workspace/expansion.h"

#include "testing/host_test_fixture.h"
#include "tools/cabinet_table.h"

namespace {

using ExpandPackageTest = LauncherTest;

TEST_F(ExpandPackageTest, CreatesTheDirectoryAndRunsTheToolHidden) {
  SetPackage({{"install\\component.isf", "x"}});
  WriteCabinet();
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files..."}));
  ASSERT_EQ(host::StartedPrograms().size(), 1u);
  const host::StartedProgram& tool = host::StartedPrograms()[0];
  EXPECT_EQ(tool.file, "C:\\Windows\\system32\\extrac32.exe");
  EXPECT_EQ(tool.parameters, "/Y /A /E /L \"C:\\Temp\\TempExpandedFiles\" \"C:\\pkg\\Setup.cab\"");
  EXPECT_EQ(tool.workingDirectory, "C:\\pkg");
  EXPECT_EQ(tool.showCommand, 0);
  EXPECT_EQ(ReadFile("C:\\Temp\\TempExpandedFiles\\install\\component.isf"), "x");
  // Both lines come before the tool starts; the wait, the pause and the check of the expansion
  // against the cabinet after it.
  const std::vector<std::string>& events = host::Events();
  EXPECT_EQ(std::vector<std::string>(events.end() - 5, events.end()),
            (std::vector<std::string>{"line:Expanding Install Files...", "start:C:\\Windows\\system32\\extrac32.exe",
                                      "wait", "sleep:2", "open-read:C:\\pkg\\Setup.cab"}));
}

TEST_F(ExpandPackageTest, NoCabinetIsSilent) {
  EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(ExpandPackageTest, NeitherToolNorCabinetReportsTheTool) {
  host::SetSystemDirectory("");
  EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to locate the extrac32.exe utility."}));
}

TEST_F(ExpandPackageTest, ToolThatDoesNotStartLeavesTheExpansionIncomplete) {
  SetPackage({{"install\\component.isf", "x"}});
  WriteCabinet();
  host::SetSystemDirectory("C:\\Missing");  // the tool does not start: no wait, the pause all the same
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Incomplete);
  EXPECT_EQ(EventsStartingWith("sleep:"), (std::vector<std::string>{"sleep:2"}));
  EXPECT_TRUE(EventsStartingWith("wait").empty());
  EXPECT_EQ(record_.failure, "Unable to expand the package: install\\component.isf is missing.");
  EXPECT_TRUE(Exists(kExpansionDirectory));  // the caller removes it
}

TEST_F(ExpandPackageTest, NoSystemDirectoryIsReportedEvenWithACabinet) {
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  host::SetSystemDirectory("");
  EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to locate the extrac32.exe utility."}));
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(ExpandPackageTest, UnusableTempCreatesNothing) {
  WriteFile("C:\\pkg\\Setup.cab", "cabinet");
  host::SetEnvironment("TEMP", "Temp");
  EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Unable to use the temporary directory: TEMP is not a full path."}));
  EXPECT_TRUE(host::StartedPrograms().empty());
}

TEST_F(ExpandPackageTest, ARefusalBeforeTheExpansionIsAnErrorInTheLogAndRemovesTheDirectory) {
  SetPackage({{"..\\outside.txt", "x"}});
  WriteCabinet();
  OpenTestLog();
  EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
  ASSERT_EQ(Lines().size(), 2u);
  EXPECT_TRUE(Logged("3 " + Lines()[1]));
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(ExpandPackageTest, BlankInPathsStaysInsideQuotes) {
  EXPECT_EQ(ExtractionParameters("C:\\Users\\John Smith\\Temp\\TempExpandedFiles", "C:\\My Pkg\\Setup.cab"),
            "/Y /A /E /L \"C:\\Users\\John Smith\\Temp\\TempExpandedFiles\" \"C:\\My Pkg\\Setup.cab\"");
}

TEST(LeadsOutOfTheDirectory, RootsDrivesStreamsAndPartsOfDotsAndBlanks) {
  for (const char* out :
       {"..\\..\\windows\\win.ini", "install\\..\\..\\x", "\\x", "/x", "C:x", "C:\\x", "install\\a.txt:stream",
        "a/../../x", "install\\.. \\x", "...\\x", "install\\.\\x", "install\\\\x", "install\\", ".."}) {
    EXPECT_TRUE(LeadsOutOfTheDirectory(out)) << out;
  }
  for (const char* in : {"install\\component.isf", "install\\x64\\InstallGui.exe", "a..b\\.config", "..a", "a b\\c"}) {
    EXPECT_FALSE(LeadsOutOfTheDirectory(in)) << in;
  }
}

class ExpansionRefusalTest : public LauncherTest {
 protected:
  std::string Refusal(const std::vector<CabinetFile>& files) {
    WriteFile("C:\\pkg\\Setup.cab", CabinetTableBytes(files));
    return ExpansionRefusal(kExpansionDirectory, "C:\\pkg\\Setup.cab");
  }
};

TEST_F(ExpansionRefusalTest, TheLongestPathMayHave259Characters) {
  // C:\Temp\TempExpandedFiles and a backslash are 26 characters: 233 are left for a name.
  const std::string folder = "install\\";
  auto named = [&](std::size_t length, bool utf8 = false) {
    return CabinetFile{folder + std::string(length - folder.size(), 'n'), utf8, 1};
  };
  EXPECT_EQ(Refusal({named(20), named(233), named(30)}), "");
  EXPECT_EQ(Refusal({named(20), named(234), named(30)}),
            "Unable to expand the package: C:\\Temp\\TempExpandedFiles\\" + named(234).name +
                " would be 260 characters long, past Windows' limit of 259.");
  // A UTF-8 name counts its characters in UTF-16 units, not its bytes.
  EXPECT_EQ(PathCharacters({"\xc3\xa9\xf0\x9f\x96\xa8", true, 1}), 3u);
  EXPECT_EQ(Refusal({{"install\\a", false, 1}, {"..\\..\\b", false, 1}}),
            "Unable to expand the package: the package cabinet lists ..\\..\\b, a name that leads out of the "
            "directory it is expanded into.");
  EXPECT_EQ(Refusal({}), "") << "an empty cabinet is told after the expansion";
  WriteFile("C:\\pkg\\Setup.cab", "MSCF and no table");
  EXPECT_EQ(ExpansionRefusal(kExpansionDirectory, "C:\\pkg\\Setup.cab"),
            "Unable to expand the package: the package cabinet is damaged or is no cabinet.");
}

}  // namespace
