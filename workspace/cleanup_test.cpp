#include "workspace/cleanup.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "common/process_state.h"
#include "testing/host_test_fixture.h"
#include "workspace/expansion_directory.h"

namespace {

using CleanUpWorkspaceTest = LauncherTest;

const std::string kRemoved =
    "Removed the expansion directory this run created as C:\\Temp\\TempExpandedFiles, with everything below it, "
    "through its hold.";

TEST_F(CleanUpWorkspaceTest, RemovesTheExpansionDirectoryThroughItsHoldStartingNothing) {
  WriteFile("C:\\Temp\\TempExpandedFiles\\install\\component.isf", "x");
  HoldExpansionDirectory();
  OpenTestLog();
  EXPECT_EQ(CleanUpWorkspace(false), "");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Install Complete, Beginning Cleanup...", "Cleanup Complete."}));
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_EQ(EventsStartingWith("remove-held:"), (std::vector<std::string>{"remove-held:C:\\Temp\\TempExpandedFiles"}));
  EXPECT_FALSE(Exists(kExpansionDirectory));
  EXPECT_TRUE(Logged("1 " + kRemoved));
}

TEST_F(CleanUpWorkspaceTest, TheLogNamesUpToTwentyEntriesThatTheRemovalLeftAndWhy) {
  for (int i = 10; i < 32; ++i) {
    std::string file = std::string(kExpansionDirectory) + "\\install\\held" + std::to_string(i) + ".txt";
    WriteFile(file, "x");
    host::KeepOnRemoval(file);  // somebody holds it open
  }
  HoldExpansionDirectory();
  OpenTestLog();
  CleanUpWorkspace(false);
  // 22 left, the folder that holds them no entry of its own; 20 named.
  EXPECT_TRUE(
      Logged("2 Could not remove the expansion directory this run created as C:\\Temp\\TempExpandedFiles; "
             "entries left below it: 22."));
  std::vector<std::string> logged = LoggedEntries();
  EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                          [](const std::string& entry) {
                            return entry.rfind("2 Left install\\held", 0) == 0 &&
                                   entry.find(".txt: could not be deleted") != std::string::npos;
                          }),
            20);
  EXPECT_EQ(logged.end()[-2], "2 And 2 more.");
}

TEST_F(CleanUpWorkspaceTest, LinksInsideAreRemovedAsThemselvesNeverEntered) {
  WriteFile("C:\\Elsewhere\\keep.txt", "keep");
  MakeDirectories(std::string(kExpansionDirectory) + "\\install");
  for (const char* link : {"install\\junction", "file-link"}) {
    std::string target = link[0] == 'i' ? "C:\\Elsewhere" : "C:\\Elsewhere\\keep.txt";
    ASSERT_EQ(
        symlink(host::HostPath(target).c_str(), host::HostPath(std::string(kExpansionDirectory) + "\\" + link).c_str()),
        0);
  }
  HoldExpansionDirectory();
  EXPECT_EQ(CleanUpWorkspace(false), "");
  EXPECT_EQ(EventsStartingWith("remove-link:").size(), 2u);
  EXPECT_FALSE(Exists(kExpansionDirectory));
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "keep");
}

TEST_F(CleanUpWorkspaceTest, AnnouncesAFailedInstall) {
  CleanUpWorkspace(true);
  EXPECT_EQ(Lines().front(), "Install Failed, Beginning Cleanup...");
  EXPECT_EQ(Lines().back(), "Cleanup Complete.");
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

TEST_F(CleanUpWorkspaceTest, DirectoryReplacedSinceItsCreationIsLeftAloneAndTheOwnOneRemovedWhereItWent) {
  HoldExpansionDirectory();
  std::filesystem::rename(host::HostPath(kExpansionDirectory), host::HostPath("C:\\Temp\\Moved"));
  WriteFile(std::string(kExpansionDirectory) + "\\keep.txt", "someone else's");
  OpenTestLog();
  std::string replaced = CleanUpWorkspace(false);
  EXPECT_TRUE(Logged("3 " + replaced));
  EXPECT_TRUE(Logged("1 " + kRemoved)) << "the run's own, told apart from the one left";
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_EQ(Lines()[1], replaced);
  EXPECT_EQ(replaced,
            "Unable to use the temporary directory: TempExpandedFiles in it is no longer the one this run "
            "created; it was left alone.");
  EXPECT_EQ(ReadFile(std::string(kExpansionDirectory) + "\\keep.txt"), "someone else's");
  EXPECT_FALSE(Exists("C:\\Temp\\Moved")) << "removed through its hold, where it went";
}

}  // namespace
