#include "workspace/cleanup.h"

#include <filesystem>

#include "common/process_state.h"
#include "testing/host_test_fixture.h"

namespace {

using CleanUpWorkspaceTest = LauncherTest;

TEST_F(CleanUpWorkspaceTest, RemovesTheExpansionDirectoryHidden) {
  WriteFile("C:\\Temp\\TempExpandedFiles\\install\\component.isf", "x");
  HoldExpansionDirectory();
  CleanUpWorkspace(false);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Install Complete, Beginning Cleanup...", "Cleanup Complete."}));
  ASSERT_EQ(host::StartedPrograms().size(), 1u);
  const host::StartedProgram& interpreter = host::StartedPrograms()[0];
  EXPECT_EQ(interpreter.file, "C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(interpreter.parameters, "/D /V:OFF /C rmdir /S /Q \"C:\\Temp\\TempExpandedFiles\"");
  EXPECT_EQ(interpreter.showCommand, 0);
  EXPECT_FALSE(Exists(kExpansionDirectory));
}

TEST_F(CleanUpWorkspaceTest, AnnouncesAFailedInstall) {
  CleanUpWorkspace(true);
  EXPECT_EQ(Lines().front(), "Install Failed, Beginning Cleanup...");
  EXPECT_EQ(Lines().back(), "Cleanup Complete.");
}

TEST_F(CleanUpWorkspaceTest, BlankInTempIsQuoted) {
  host::SetEnvironment("TEMP", "C:\\Users\\John Smith\\Temp");
  MakeDirectories("C:\\Users\\John Smith\\Temp");
  HoldExpansionDirectory();
  CleanUpWorkspace(false);
  EXPECT_EQ(host::StartedPrograms()[0].parameters,
            "/D /V:OFF /C rmdir /S /Q \"C:\\Users\\John Smith\\Temp\\TempExpandedFiles\"");
}

TEST_F(CleanUpWorkspaceTest, NoSystemDirectoryFallsBackToTheFixedInterpreter) {
  host::SetSystemDirectory("");
  HoldExpansionDirectory();
  CleanUpWorkspace(false);
  EXPECT_EQ(host::StartedPrograms()[0].file, "C:\\windows\\system32\\cmd.exe");
}

TEST_F(CleanUpWorkspaceTest, LinkPlantedSinceExpansionIsNotRemoved) {
  WriteFile("C:\\Elsewhere\\keep.txt", "keep");
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere").c_str(), host::HostPath(kExpansionDirectory).c_str()), 0);
  CleanUpWorkspace(false);
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "Install Complete, Beginning Cleanup...",
                         "Unable to use the temporary directory: TempExpandedFiles in it is a link or junction.",
                         "Cleanup Complete."}));
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "keep");
}

TEST_F(CleanUpWorkspaceTest, DirectoryReplacedSinceItsCreationIsLeftAlone) {
  HoldExpansionDirectory();
  std::filesystem::rename(host::HostPath(kExpansionDirectory), host::HostPath("C:\\Temp\\Moved"));
  WriteFile(std::string(kExpansionDirectory) + "\\keep.txt", "someone else's");
  CleanUpWorkspace(false);
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_EQ(Lines()[1],
            "Unable to use the temporary directory: TempExpandedFiles in it is no longer the one this run "
            "created; it was left alone.");
  EXPECT_EQ(ReadFile(std::string(kExpansionDirectory) + "\\keep.txt"), "someone else's");
  EXPECT_TRUE(Exists("C:\\Temp\\Moved")) << "released, not removed from where it stood";
}

}  // namespace
