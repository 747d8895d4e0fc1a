#include "launcher/instance_guard.h"

#include "testing/host_test_fixture.h"

namespace {

using IsAnotherInstanceRunningTest = LauncherTest;

TEST_F(IsAnotherInstanceRunningTest, CountsExactNamesAboveOne) {
  host::SetProcessNames({"explorer.exe", "Setup.exe", "cmd.exe"});
  EXPECT_FALSE(IsAnotherInstanceRunning("Setup.exe"));

  host::SetProcessNames({"Setup.exe", "explorer.exe", "Setup.exe"});
  EXPECT_TRUE(IsAnotherInstanceRunning("Setup.exe"));

  host::SetProcessNames({"Setup.exe", "SETUP.EXE", "setup.exe", "Setup.exe "});
  EXPECT_FALSE(IsAnotherInstanceRunning("Setup.exe"));
}

TEST_F(IsAnotherInstanceRunningTest, StopsReadingAtTheSecondMatch) {
  host::SetProcessNames({"Setup.exe", "cmd.exe", "Setup.exe", "explorer.exe", "Setup.exe"});
  EXPECT_TRUE(IsAnotherInstanceRunning("Setup.exe"));
  EXPECT_EQ(EventsStartingWith("processes-read:"), (std::vector<std::string>{"processes-read:3"}));
  host::ClearRecords();
  EXPECT_FALSE(IsAnotherInstanceRunning("cmd.exe"));
  EXPECT_EQ(EventsStartingWith("processes-read:"), (std::vector<std::string>{"processes-read:5"}));
}

TEST_F(IsAnotherInstanceRunningTest, NamesThatMatchNoExecutable) {
  host::SetProcessNames({"setup.exe", "setup.exe"});
  EXPECT_FALSE(IsAnotherInstanceRunning("setup"));
  EXPECT_FALSE(IsAnotherInstanceRunning("C:/pkg/setup.exe"));
}

TEST_F(IsAnotherInstanceRunningTest, OnlyElevatedOrSystemProcessesAreCopies) {
  // A standard user's program called Setup.exe, or one the launcher cannot open, is no copy.
  host::SetProcesses({{"Setup.exe", true}, {"Setup.exe", false}, {"Setup.exe", false}});
  EXPECT_FALSE(IsAnotherInstanceRunning("Setup.exe"));
  host::SetProcesses({{"Setup.exe", false}, {"Setup.exe", true}, {"Setup.exe", true}});
  EXPECT_TRUE(IsAnotherInstanceRunning("Setup.exe"));
}

TEST_F(IsAnotherInstanceRunningTest, NoSnapshotMeansAlone) {
  host::SetProcessNames({"Setup.exe", "Setup.exe"});
  host::SetProcessSnapshotAvailable(false);
  EXPECT_FALSE(IsAnotherInstanceRunning("Setup.exe"));
}

}  // namespace
