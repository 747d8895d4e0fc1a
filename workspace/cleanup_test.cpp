#include "workspace/cleanup.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/process_state.h"
#include "testing/host_test_fixture.h"
#include "workspace/locations.h"

namespace {

using CleanUpWorkspaceTest = LauncherTest;

const std::string kReplacedLine =
    "Unable to use the temporary directory: TempExpandedFiles in it is no longer the one this run created; it was "
    "left alone.";

TEST_F(CleanUpWorkspaceTest, RemovesTheExpansionDirectoryThroughItsHoldStartingNothing) {
  for (const char* temp : {"C:\\Temp", "C:\\Users\\John Smith\\Temp"}) {
    SCOPED_TRACE(temp);
    host::SetEnvironment("TEMP", temp);
    MakeDirectories(temp);
    ResolveTemporaryDirectory();
    WriteFile(ExpansionDirectory() + "\\install\\x64\\InstallGui.exe", "x");
    HoldExpansionDirectory();
    host::ClearRecords();
    EXPECT_EQ(CleanUpWorkspace(false), "");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Install Complete, Beginning Cleanup...", "Cleanup Complete."}));
    EXPECT_TRUE(host::StartedPrograms().empty());
    EXPECT_EQ(EventsStartingWith("remove-held:"), (std::vector<std::string>{"remove-held:" + ExpansionDirectory()}));
    EXPECT_FALSE(Exists(ExpansionDirectory()));
    EXPECT_TRUE(Exists(temp));
  }
}

TEST_F(CleanUpWorkspaceTest, AnnouncesAFailedInstall) {
  HoldExpansionDirectory();
  EXPECT_EQ(CleanUpWorkspace(true), "");
  EXPECT_EQ(Lines().front(), "Install Failed, Beginning Cleanup...");
  EXPECT_EQ(Lines().back(), "Cleanup Complete.");
}

TEST_F(CleanUpWorkspaceTest, LinksInsideAreRemovedAsThemselvesNeverEntered) {
  WriteFile("C:\\Elsewhere\\keep.txt", "keep");
  WriteFile(std::string(kExpansionDirectory) + "\\install\\component.isf", "x");
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere").c_str(),
                    host::HostPath(std::string(kExpansionDirectory) + "\\install\\junction").c_str()),
            0);
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere\\keep.txt").c_str(),
                    host::HostPath(std::string(kExpansionDirectory) + "\\file-link").c_str()),
            0);
  HoldExpansionDirectory();
  EXPECT_EQ(CleanUpWorkspace(false), "");
  std::vector<std::string> links = EventsStartingWith("remove-link:");
  std::sort(links.begin(), links.end());
  EXPECT_EQ(links, (std::vector<std::string>{"remove-link:file-link", "remove-link:junction"}));
  EXPECT_FALSE(Exists(kExpansionDirectory));
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "keep");
}

TEST_F(CleanUpWorkspaceTest, LinkPlantedSinceExpansionIsNotRemoved) {
  WriteFile("C:\\Elsewhere\\keep.txt", "keep");
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere").c_str(), host::HostPath(kExpansionDirectory).c_str()), 0);
  const std::string line = "Unable to use the temporary directory: TempExpandedFiles in it is a link or junction.";
  EXPECT_EQ(CleanUpWorkspace(false), line);
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Install Complete, Beginning Cleanup...", line, "Cleanup Complete."}));
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "keep");
}

TEST_F(CleanUpWorkspaceTest, DirectoryReplacedSinceItsCreationIsLeftAloneAndTheOwnOneRemovedWhereItWent) {
  WriteFile(std::string(kExpansionDirectory) + "\\install\\component.isf", "ours");
  HoldExpansionDirectory();
  std::filesystem::rename(host::HostPath(kExpansionDirectory), host::HostPath("C:\\Temp\\Moved"));
  WriteFile(std::string(kExpansionDirectory) + "\\install\\component.isf", "someone else's");
  EXPECT_EQ(CleanUpWorkspace(false), kReplacedLine);
  EXPECT_EQ(Lines()[1], kReplacedLine);
  EXPECT_EQ(ReadFile(std::string(kExpansionDirectory) + "\\install\\component.isf"), "someone else's");
  EXPECT_FALSE(Exists("C:\\Temp\\Moved"));

  RunRecord record;
  EXPECT_EQ(EndWithCleanup(Outcome::Installed, &record), Outcome::WorkspaceReplaced);
  EXPECT_EQ(record.failure, kReplacedLine);
  EXPECT_EQ(FactsOf(Outcome::WorkspaceReplaced).exitCode, 10);
  EXPECT_EQ(FactsOf(Outcome::WorkspaceReplaced).eventId, 1010u);
}

}  // namespace
