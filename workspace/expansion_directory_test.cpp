#include "workspace/expansion_directory.h"

#include <unistd.h>

#include <filesystem>
#include <functional>

#include "common/process_state.h"
#include "testing/host_test_fixture.h"
#include "workspace/expansion.h"
#include "workspace/locations.h"

namespace {

const std::string kAccount = "S-1-5-21-0-0-0-1000";
const std::string kAside = "C:\\Temp\\TempExpandedFiles.00005eed";
const std::string kCreated =
    std::string("mkdir:C:\\Temp\\TempExpandedFiles ") + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const std::string kRemoval = "remove-held:C:\\Temp\\TempExpandedFiles";
const std::string kBeside = "C:\\Temp\\TempExpandedFiles.0123456789abcdef";

class FreshExpansionDirectoryTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    SetPackageWithSettings("[Install]\r\n");
    WriteCabinet();
    WriteFile("C:\\Elsewhere\\keep.txt", "precious");
  }

  // A leftover whose owner and entries are those given, holding a stale settings file.
  void PlantLeftover(const std::string& owner, const std::vector<std::string>& entries) {
    WriteFile(std::string(kExpansionDirectory) + "\\install\\component.isf", "[Install]\r\nstale and longer\r\n");
    WriteFile(std::string(kExpansionDirectory) + "\\install\\x64\\InstallGui.exe", "old build");
    host::SetDirectorySecurity(kExpansionDirectory, platform::DirectorySecurity{owner, entries, true});
  }

  void PlantLinkToElsewhere(const std::string& path) {
    ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere").c_str(), host::HostPath(path).c_str()), 0);
  }

  // The removals through a hold, by the path each directory was held at.
  std::vector<std::string> Removals() { return EventsStartingWith("remove-held:"); }

  void ExpectFreshPackageOnly() {
    EXPECT_EQ(ReadFile(kSettingsFile), "[Install]\r\n");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(host::HostPath(kExpansionDirectory))) {
      names.push_back(entry.path().filename());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"install"}));
    EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "precious");
  }

  const std::vector<std::string> kRefused = {"Creating Temporary Directory..."};
};

TEST(IsOwnLeftover, OnlySystemAndAdministrators) {
  using S = platform::DirectorySecurity;
  const std::string sy = "S-1-5-18";
  const std::string ba = "S-1-5-32-544";
  EXPECT_TRUE(IsOwnLeftover(S{sy, {sy, ba}, true}));
  EXPECT_TRUE(IsOwnLeftover(S{ba, {sy, ba}, true}));
  EXPECT_TRUE(IsOwnLeftover(S{sy, {}, true}));
  for (const S& foreign : {S{sy, {sy, ba}, false},                    // no DACL: everyone may write
                           S{kAccount, {sy, kAccount}, true},         // the launcher's account, as Wine reads it
                           S{"S-1-5-21-9-9-9-1001", {sy, ba}, true},  // another account's
                           S{sy, {sy, ba, "S-1-1-0"}, true},          // Everyone
                           S{sy, {sy, "S-1-5-32-545"}, true},         // Users
                           S{sy, {sy, "S-1-3-0"}, true},              // CREATOR OWNER
                           S{sy, {sy, "?"}, true},                    // an entry of another kind
                           S{"", {sy}, true}}) {
    EXPECT_FALSE(IsOwnLeftover(foreign)) << foreign.owner << " with " << foreign.entries.size() << " entries";
  }
}

TEST_F(FreshExpansionDirectoryTest, OneLockForTheDirectoryHoweverTempSpellsIt) {
  MakeDirectories("C:\\Other");
  ASSERT_EQ(symlink(host::HostPath("C:\\Temp").c_str(), host::HostPath("C:\\Link").c_str()), 0);
  host::SetFileNamesIgnoreCase(true);
  for (const char* spelling : {"C:\\Temp", "C:\\TEMP\\", "C:\\Other\\..\\Temp\\.", "C:\\\\Temp", "C:\\Link"}) {
    SCOPED_TRACE(spelling);
    host::SetEnvironment("TEMP", spelling);
    EXPECT_EQ(ResolveTemporaryDirectory(), "");
    EXPECT_EQ(ExpansionLockName(temporaryDirectory.id), TempLockName());
    EXPECT_EQ(ExpansionDirectory(), kExpansionDirectory);
  }
  host::SetEnvironment("TEMP", "C:\\Other");
  ResolveTemporaryDirectory();
  EXPECT_NE(ExpansionLockName(temporaryDirectory.id), TempLockName());
}

TEST_F(FreshExpansionDirectoryTest, CreatedFreshWithTheProtectedDescriptorAfterTakingTheLock) {
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(EventsStartingWith("lock:"),
            (std::vector<std::string>{"lock:" + TempLockName() + " D:P(A;;GA;;;SY)(A;;GA;;;BA)"}));
  EXPECT_EQ(EventsStartingWith("mkdir:"), (std::vector<std::string>{kCreated}));
  // The lock comes before any line, the directory after the first.
  std::vector<std::string> order;
  for (const std::string& event : host::Events()) {
    if (event.rfind("lock:", 0) == 0 || event.rfind("mkdir:", 0) == 0 || event.rfind("line:", 0) == 0) {
      order.push_back(event.substr(0, event.find(':')));
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"lock", "line", "mkdir", "line"}));
  EXPECT_TRUE(Removals().empty());
}

TEST_F(FreshExpansionDirectoryTest, OwnLeftoverIsRemovedWithoutLinesThenCreatedAnew) {
  PlantLeftover("S-1-5-18", {"S-1-5-18", "S-1-5-32-544"});
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Creating Temporary Directory...", "Expanding Install Files..."}));
  EXPECT_EQ(Removals(), (std::vector<std::string>{kRemoval}));
  EXPECT_EQ(EventsStartingWith("mkdir:"), (std::vector<std::string>{kCreated}));
  EXPECT_TRUE(EventsStartingWith("rename:").empty());
  EXPECT_EQ(ReadFile(kSettingsFile), "[Install]\r\n");
  EXPECT_EQ(ReadFile(std::string(kExpansionDirectory) + "\\install\\x64\\InstallGui.exe"), "x64 installer");
}

TEST_F(FreshExpansionDirectoryTest, OwnLeftoverThatResistsRemovalIsMovedAside) {
  PlantLeftover("S-1-5-18", {"S-1-5-18", "S-1-5-32-544"});
  host::KeepOnRemoval(kSettingsFile);  // somebody holds it open
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Removals(), (std::vector<std::string>{kRemoval}));
  EXPECT_EQ(ReadFile(kAside + "\\install\\component.isf"), "[Install]\r\nstale and longer\r\n");
  EXPECT_FALSE(Exists(kAside + "\\install\\x64")) << "what could be removed was";
  EXPECT_EQ(EventsStartingWith("mkdir:"), (std::vector<std::string>{kCreated}));
  ExpectFreshPackageOnly();
}

TEST_F(FreshExpansionDirectoryTest, ForeignLeftoversAreMovedAsideUnopened) {
  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  for (const Case& c :
       std::vector<Case>{{"a folder Everyone may write to",
                          [&] {
                            PlantLeftover(kAccount, {kAccount, "S-1-1-0"});
                          }},
                         {"a folder of another account", [&] { PlantLeftover("S-1-5-21-9-9-9-1001", {"S-1-5-18"}); }},
                         {"a folder made without a descriptor",
                          [&] { WriteFile(std::string(kExpansionDirectory) + "\\extra.txt", "x"); }},
                         {"a link to a folder elsewhere", [&] { PlantLinkToElsewhere(kExpansionDirectory); }},
                         {"a file", [&] { WriteFile(kExpansionDirectory, "file"); }}}) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(host::HostPath("C:\\Temp"));
    MakeDirectories("C:\\Temp");
    host::ClearRecords();
    c.plant();
    std::filesystem::path planted = host::HostPath(kExpansionDirectory);
    auto before = std::filesystem::symlink_status(planted).type();
    EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
    EXPECT_TRUE(Removals().empty());
    EXPECT_EQ(EventsStartingWith("rename:"),
              (std::vector<std::string>{"rename:C:\\Temp\\TempExpandedFiles -> " + kAside}));
    EXPECT_EQ(std::filesystem::symlink_status(host::HostPath(kAside)).type(), before);
    EXPECT_EQ(EventsStartingWith("hold-directory:"),
              (std::vector<std::string>{"hold-directory:" + std::string(kExpansionDirectory)}))
        << "held only once created: the planted one is never opened for its contents";
    ExpectFreshPackageOnly();
  }
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "precious");
  EXPECT_FALSE(Exists("C:\\Elsewhere\\install"));
}

TEST_F(FreshExpansionDirectoryTest, AsideNameTakenAlreadyTriesTheNext) {
  WriteFile(std::string(kExpansionDirectory) + "\\extra.txt", "x");
  MakeDirectories(kAside);
  OpenTestLog();
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_TRUE(Exists("C:\\Temp\\TempExpandedFiles.00005eee\\extra.txt"));
  EXPECT_TRUE(
      Logged("2 What stood at C:\\Temp\\TempExpandedFiles was not this run's to use; it was moved aside to "
             "C:\\Temp\\TempExpandedFiles.00005eee for an administrator to look at."));
}

TEST_F(FreshExpansionDirectoryTest, SquattedNameThatCannotBeMovedAsideIsWorkedBeside) {
  WriteFile(std::string(kExpansionDirectory) + "\\extra.txt", "x");
  host::FailRenaming();  // its owner holds it open without delete sharing
  OpenTestLog();
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_TRUE(
      Logged("2 C:\\Temp\\TempExpandedFiles is someone else's and could not be moved aside; the run goes on in "
             "TempExpandedFiles.0123456789abcdef beside it."));
  EXPECT_EQ(EventsStartingWith("rename:").size(), 16u) << "sixteen names aside, then beside";
  EXPECT_EQ(EventsStartingWith("mkdir:"),
            (std::vector<std::string>{"mkdir:" + kBeside + " " + kExpansionDirectorySecurity}));
  EXPECT_EQ(ReadFile(kBeside + "\\install\\component.isf"), "[Install]\r\n");
  EXPECT_EQ(record_.temporaryDirectory,
            "C:\\Temp, in TempExpandedFiles.0123456789abcdef: TempExpandedFiles there is someone else's and could not "
            "be moved aside");
  EXPECT_EQ(ReadFile(std::string(kExpansionDirectory) + "\\extra.txt"), "x");
}

TEST_F(FreshExpansionDirectoryTest, NoRoomBesideASquattedNameStopsOnTheTemporaryDirectoryRoad) {
  // A "temp" of 198 characters holds TempExpandedFiles, but with the fresh name beside it the
  // installer's path would reach MAX_PATH (197 is the longest that fits).
  std::string temp = "C:\\" + std::string(195, 't');
  WriteFile(temp + "\\TempExpandedFiles\\extra.txt", "x");
  host::SetEnvironment("TEMP", temp);
  host::FailRenaming();
  EXPECT_EQ(ExpandPackage(&record_), Expansion::NotStarted);
  EXPECT_EQ(Lines().back(),
            "Unable to use the temporary directory: TempExpandedFiles in it could not be removed or moved aside.");
  EXPECT_TRUE(EventsStartingWith("mkdir:").empty());
  EXPECT_TRUE(host::StartedPrograms().empty());
}

TEST_F(FreshExpansionDirectoryTest, CreationRacedByALinkIsWorkedBeside) {
  PlantLeftover("S-1-5-18", {"S-1-5-18", "S-1-5-32-544"});
  // A standard user's link takes the name after the leftover is gone and before the creation.
  host::BeforeCreatingDirectory([this](const std::string& path) {
    if (path == kExpansionDirectory) PlantLinkToElsewhere(path);
  });
  EXPECT_EQ(ExpandPackage(&record_), Expansion::Done);
  EXPECT_EQ(Removals(), (std::vector<std::string>{kRemoval}));
  EXPECT_EQ(ExpansionDirectory(), kBeside);
  EXPECT_TRUE(std::filesystem::is_symlink(host::HostPath(kExpansionDirectory)));
  EXPECT_FALSE(Exists("C:\\Elsewhere\\install"));
  EXPECT_EQ(ReadFile("C:\\Elsewhere\\keep.txt"), "precious");
}

TEST_F(FreshExpansionDirectoryTest, InUseByAnotherLauncherTouchesNothing) {
  PlantLeftover("S-1-5-18", {"S-1-5-18", "S-1-5-32-544"});
  host::HoldLockElsewhere(TempLockName());
  EXPECT_EQ(ExpandPackage(&record_), Expansion::InUse);
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(host::StartedPrograms().empty());
  EXPECT_TRUE(EventsStartingWith("rename:").empty());
  EXPECT_EQ(ReadFile(kSettingsFile), "[Install]\r\nstale and longer\r\n");
}

}  // namespace
