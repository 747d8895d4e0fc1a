#include "workspace/locations.h"

#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "common/process_state.h"
#include "testing/host_test_fixture.h"
#include "workspace/expansion_directory.h"

namespace {

using FindPackageCabinetTest = LauncherTest;

TEST_F(FindPackageCabinetTest, OwnNameComesBeforeInstallFiles) {
  WriteFile("C:\\pkg\\Setup.cab", "a");
  WriteFile("C:\\pkg\\InstallFiles.cab", "b");
  EXPECT_EQ(FindPackageCabinet(), "C:\\pkg\\Setup.cab");
}

TEST_F(FindPackageCabinetTest, InstallFilesIsFoundThroughTheLauncherDirectory) {
  launcherDirectory = "C:\\other";
  WriteFile("C:\\other\\InstallFiles.cab", "b");
  EXPECT_EQ(FindPackageCabinet(), "C:\\other\\InstallFiles.cab");
}

TEST_F(FindPackageCabinetTest, NeitherCabinetGivesEmpty) { EXPECT_EQ(FindPackageCabinet(), ""); }

TEST_F(FindPackageCabinetTest, DirectoryCountsAsFound) {
  MakeDirectories("C:\\pkg\\Setup.cab");
  EXPECT_EQ(FindPackageCabinet(), "C:\\pkg\\Setup.cab");
}

TEST_F(FindPackageCabinetTest, ShortFormIsReturned) {
  WriteFile("C:\\pkg\\Long Folder\\Setup.cab", "a");
  host::SetExecutablePath("C:\\pkg\\Long Folder\\Setup.exe");
  host::SetShortPath("C:\\pkg\\Long Folder\\Setup.cab", "C:\\pkg\\LONGFO~1\\Setup.cab");
  EXPECT_EQ(FindPackageCabinet(), "C:\\pkg\\LONGFO~1\\Setup.cab");
}

TEST_F(FindPackageCabinetTest, NoShortFormMeansNotFoundWithoutTryingTheSecond) {
  WriteFile("C:\\pkg\\Setup.cab", "a");
  WriteFile("C:\\pkg\\InstallFiles.cab", "b");
  host::SetShortPathsAvailable(false);
  EXPECT_EQ(FindPackageCabinet(), "");
}

TEST_F(FindPackageCabinetTest, DotInAFolderNameOnly) {
  host::SetExecutablePath("C:\\pkg.v2\\Setup");
  launcherDirectory = "C:\\pkg.v2";
  WriteFile("C:\\pkg.v2\\InstallFiles.cab", "b");
  EXPECT_EQ(FindPackageCabinet(), "C:\\pkg.v2\\InstallFiles.cab");
}

TEST_F(FindPackageCabinetTest, NoExecutablePathFallsBackToInstallFiles) {
  host::SetExecutablePath("");
  WriteFile("C:\\pkg\\InstallFiles.cab", "b");
  EXPECT_EQ(FindPackageCabinet(), "C:\\pkg\\InstallFiles.cab");
}

TEST(ReplaceExtensionWithCab, Table) {
  EXPECT_EQ(ReplaceExtensionWithCab("C:\\Pkg\\Setup.exe"), "C:\\Pkg\\Setup.cab");
  EXPECT_EQ(ReplaceExtensionWithCab("Setup.ex"), "Setup.cab");
  EXPECT_EQ(ReplaceExtensionWithCab("Setup.exe1"), "Setup.cab1");
  EXPECT_EQ(ReplaceExtensionWithCab("C:\\a.b\\Setup"), "C:\\a.cabetup");  // kept on purpose: the last dot anywhere
  EXPECT_EQ(ReplaceExtensionWithCab("Setup"), "");
}

using ExpansionDirectoryTest = LauncherTest;

TEST_F(ExpansionDirectoryTest, TempNameInAnyCaseAndItsFinalPath) {
  host::UnsetEnvironment("TEMP");
  host::SetEnvironment("Temp", "D:\\T\\.\\");
  MakeDirectories("D:\\T");
  EXPECT_EQ(ResolveTemporaryDirectory(), "");
  EXPECT_EQ(ExpansionDirectory(), "D:\\T\\TempExpandedFiles");
  // The drive letters at both ends, as Wine maps its Unix root to Z:.
  for (const char* temp : {"A:\\T", "Z:\\T", "a:\\T", "z:\\T"}) {
    host::SetEnvironment("Temp", temp);
    MakeDirectories(temp);
    EXPECT_EQ(ResolveTemporaryDirectory(), "") << temp;
  }
}

TEST_F(ExpansionDirectoryTest, UnusableTemporaryDirectories) {
  const std::string prefix = "Unable to use the temporary directory: ";
  struct Case {
    const char* temp;
    const char* reason;
  };
  const char* device = "TEMP names a device path (\\\\.\\ or \\\\?\\), which the launcher does not use.";
  for (const Case& c :
       {Case{"", "the TEMP environment variable is not set."}, Case{"Temp", "TEMP is not a full path."},
        Case{"\\Temp", "TEMP is not a full path."}, Case{"C:Temp", "TEMP is not a full path."},
        Case{"\\\\\\Temp", "TEMP is not a full path."},  // three backslashes: no server name, no share
        Case{"C:\\a\x1f"
             "b",
             "TEMP holds characters that the launcher does not accept in a path."},  // the last control character
        Case{"C:\\Te\"mp", "TEMP holds characters that the launcher does not accept in a path."},
        Case{"C:\\a<b", "TEMP holds characters that the launcher does not accept in a path."},
        Case{"C:\\a|b", "TEMP holds characters that the launcher does not accept in a path."},
        Case{"C:\\a\tb", "TEMP holds characters that the launcher does not accept in a path."},
        Case{"C:\\%PATH%", "TEMP holds characters that the launcher does not accept in a path."},
        Case{"C:\\a:b", "TEMP holds characters that the launcher does not accept in a path."},
        Case{"\\\\.\\GLOBALROOT\\Device\\HarddiskVolume1\\Windows", device}, Case{"\\\\?\\C:\\Temp", device},
        Case{"\\\\.\\C:\\Temp", device}, Case{"C:\\Missing", "TEMP names no directory."}}) {
    host::SetEnvironment("TEMP", c.temp);
    EXPECT_EQ(ResolveTemporaryDirectory(), prefix + c.reason) << "temp: " << c.temp;
    EXPECT_EQ(ExpansionDirectory(), "");
  }
  host::UnsetEnvironment("TEMP");
  EXPECT_EQ(ResolveTemporaryDirectory(), prefix + "the TEMP environment variable is not set.");
}

TEST_F(ExpansionDirectoryTest, TempTheCodePageCannotSpellIsUsedByItsShortForm) {
  host::SetEnvironment("TEMP", "C:\\Users\\?????\\Temp");  // as the narrow environment holds it
  host::SetEnvironmentSpelling("TEMP", platform::AnsiSpelling{false, "C:\\Users\\____~4CG\\Temp"});
  MakeDirectories("C:\\Users\\____~4CG\\Temp");
  EXPECT_EQ(ResolveTemporaryDirectory(), "");
  EXPECT_EQ(ExpansionDirectory(), "C:\\Users\\____~4CG\\Temp\\TempExpandedFiles");
  // A volume without 8.3 names: refused, whatever else the value would pass.
  host::SetEnvironmentSpelling("TEMP", platform::AnsiSpelling{false, ""});
  EXPECT_EQ(ResolveTemporaryDirectory(),
            "Unable to use the temporary directory: TEMP holds characters that the system's code page cannot spell, "
            "and it has no short name.");
  EXPECT_EQ(ExpansionDirectory(), "");
}

TEST_F(ExpansionDirectoryTest, ALinkedTempIsUsedByTheFinalPathItLeadsTo) {
  MakeDirectories("C:\\Users\\John Smith\\AppData\\Local\\Temp");
  ASSERT_EQ(
      symlink(host::HostPath("C:\\Users\\John Smith\\AppData\\Local\\Temp").c_str(), host::HostPath("C:\\T").c_str()),
      0);
  host::SetEnvironment("TEMP", "C:\\T");
  EXPECT_EQ(ResolveTemporaryDirectory(), "");
  EXPECT_EQ(ExpansionDirectory(), "C:\\Users\\John Smith\\AppData\\Local\\Temp\\TempExpandedFiles");
  // Resolved once: retargeting the link later does not move the run.
  std::filesystem::remove(host::HostPath("C:\\T"));
  ASSERT_EQ(symlink(host::HostPath("C:\\Elsewhere").c_str(), host::HostPath("C:\\T").c_str()), 0);
  EXPECT_EQ(ExpansionDirectory(), "C:\\Users\\John Smith\\AppData\\Local\\Temp\\TempExpandedFiles");
  // A short link to a folder too long for the paths formed in it is refused by where it leads.
  std::string longFolder = "C:\\" + std::string(220, 'l');
  MakeDirectories(longFolder);
  ASSERT_EQ(symlink(host::HostPath(longFolder).c_str(), host::HostPath("C:\\L").c_str()), 0);
  host::SetEnvironment("TEMP", "C:\\L");
  EXPECT_EQ(ResolveTemporaryDirectory(),
            "Unable to use the temporary directory: TEMP is too long for the paths the launcher forms in it.");
}

TEST_F(ExpansionDirectoryTest, SystemRunInWindowsTempWorksWhereGetTempPath2WSays) {
  const std::string windowsTemp = "C:\\Windows\\Temp", systemTemp = "C:\\Windows\\SystemTemp";
  MakeDirectories(windowsTemp);
  MakeDirectories(systemTemp);
  host::SetFileNamesIgnoreCase(true);
  // As SYSTEM or not, "temp", what GetTempPath2W names ("" without it), and where the run works.
  for (auto [system, temp, systemsOwn, expected] : std::vector<std::tuple<bool, std::string, std::string, std::string>>{
           {true, windowsTemp, systemTemp, systemTemp},
           {true, "C:\\WINDOWS\\temp\\.", systemTemp, systemTemp},
           {false, windowsTemp, systemTemp, windowsTemp},
           {true, "C:\\Temp", systemTemp, "C:\\Temp"},
           {true, windowsTemp, "", windowsTemp},
           {true, windowsTemp, "C:\\Windows\\Missing", windowsTemp}}) {
    host::SetRunsAsSystem(system);
    host::SetEnvironment("TEMP", temp);
    host::SetTemporaryDirectoryOfTheSystem(systemsOwn);
    EXPECT_EQ(ResolveTemporaryDirectory(), "");
    EXPECT_EQ(temporaryDirectory.path, expected) << temp << (system ? " as SYSTEM, " : ", ") << systemsOwn;
    EXPECT_EQ(temporaryDirectory.id, platform::IdentifyDirectory(expected).id) << "the lock follows it";
  }
}

using SystemProgramPathsTest = LauncherTest;

TEST_F(SystemProgramPathsTest, FromTheSystemDirectory) {
  host::SetSystemDirectory("D:\\WINNT\\system32");
  EXPECT_EQ(ExtractionToolPath(), "D:\\WINNT\\system32\\extrac32.exe");
  host::SetSystemDirectory("");
  EXPECT_EQ(ExtractionToolPath(), "");
}

}  // namespace
