// The real Windows platform layer (platform/win32.cpp) and the C runtime under it, tested under
// Wine in a 64-bit and a 32-bit prefix. CTest passes LAUNCHER_EXPECT_WOW64 (1 or 0),
// LAUNCHER_OBSERVER (a program that reports how it was started), LAUNCHER_TEST_LINK (a link to a
// folder, made on the Unix side, which Windows programs under Wine see as a reparse point) and
// LAUNCHER_TEST_TREE (a folder with files, a subfolder and links to that folder and its file).
#include <windows.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/console.h"
#include "platform/platform.h"
#include "settings/port_rewrite.h"
#include "settings/reader.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Wide calls: a name the code page cannot spell would read back as "?" through the narrow ones.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                    (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
      if (folder) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static int counter = 0;
    folder_ = std::string(temp) + "platform-test-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
  }
  void TearDown() override { RemoveTree(std::wstring(folder_.begin(), folder_.end())); }

  std::string Path(const std::string& name) const { return folder_ + "\\" + name; }

  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  static bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  // Points "temp" at the test's folder, for the C runtime's copy of the environment and the system's,
  // and resolves it, as a run does before it forms any path there.
  void UseFolderAsTemp() {
    std::string assignment = "TEMP=" + folder_;
    _putenv(assignment.c_str());
    SetEnvironmentVariableA("TEMP", folder_.c_str());
    ASSERT_EQ(ResolveTemporaryDirectory(), "");
  }

  std::string folder_;
};

TEST_F(Win32PlatformTest, ReplaceKeepsTheTargetUntilReplacedAndBothFilesOnFailure) {
  Write(Path("target"), "old");
  Write(Path("source"), "new");
  EXPECT_TRUE(platform::ReplaceFileWith(Path("source"), Path("target")));
  EXPECT_EQ(Read(Path("target")), "new");
  EXPECT_FALSE(Exists(Path("source")));

  EXPECT_FALSE(platform::ReplaceFileWith(Path("missing"), Path("target")));
  EXPECT_EQ(Read(Path("target")), "new");

  ASSERT_TRUE(CreateDirectoryA(Path("folder").c_str(), nullptr));
  Write(Path("source"), "newer");
  EXPECT_FALSE(platform::ReplaceFileWith(Path("source"), Path("folder")));
  EXPECT_EQ(Read(Path("source")), "newer");
  EXPECT_TRUE(Exists(Path("folder")));
}

TEST_F(Win32PlatformTest, SettingsAreReadAndRewrittenAsBytesThroughTheRealRuntime) {
  UseFolderAsTemp();
  ASSERT_TRUE(CreateDirectoryA(Path("TempExpandedFiles").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(Path("TempExpandedFiles\\install").c_str(), nullptr));
  // Ctrl-Z ends a text-mode read; a CR without LF is no line end.
  const std::string settings = "[Install]\r\nPort=CmdLine\r\nX=\x1a\r\nAfter=1\r\nY=a\rb\r\n";
  Write(SettingsFilePath(), settings);
  EXPECT_TRUE(SettingsFileHasLine("After=1", SettingsFilePath()));
  EXPECT_TRUE(SettingsFileHasLine("Y=a\rb", SettingsFilePath()));
  EXPECT_FALSE(SettingsFileHasLine("Y=a", SettingsFilePath()));

  EXPECT_TRUE(RewritePortConfiguration("P", "10.0.0.1", false));
  EXPECT_EQ(Read(SettingsFilePath()),
            "[Install]\r\nPort=P\r\nX=\x1a\r\nAfter=1\r\nY=a\rb\r\n\r\n[Ports]\r\nP=StandardIP\r\n\r\n[P]\r\n"
            "Name=P\r\nHostName=P\r\nIPAddress=10.0.0.1\r\n");
  EXPECT_FALSE(Exists(SettingsFilePath() + ".tmp"));
}

TEST_F(Win32PlatformTest, NewFileIsNeverOneThatExists) {
  std::FILE* created = platform::CreateNewFile(Path("new.tmp"));
  ASSERT_NE(created, nullptr);
  std::fputs("a\nb", created);  // binary: no CR is added
  std::fclose(created);
  EXPECT_EQ(Read(Path("new.tmp")), "a\nb");
  EXPECT_EQ(platform::CreateNewFile(Path("new.tmp")), nullptr);
  EXPECT_EQ(Read(Path("new.tmp")), "a\nb");
}

TEST_F(Win32PlatformTest, PathsAndTheSystem) {
  Write(Path("file.txt"), "x");
  EXPECT_EQ(platform::KindOf(Path("file.txt")), platform::PathKind::File);
  EXPECT_EQ(platform::KindOf(folder_), platform::PathKind::Directory);
  EXPECT_EQ(platform::KindOf(Path("missing")), platform::PathKind::Missing);
  if (!Environment("LAUNCHER_TEST_LINK").empty()) {
    EXPECT_EQ(platform::KindOf(Environment("LAUNCHER_TEST_LINK")), platform::PathKind::Link);
  }
  Write(Path("a long file name.text"), "x");
  std::optional<std::string> shortForm = platform::ShortForm(Path("a long file name.text"));
  ASSERT_TRUE(shortForm.has_value());
  std::string shortName = shortForm->substr(shortForm->rfind('\\') + 1);
  EXPECT_LE(shortName.size(), 12u) << *shortForm;
  EXPECT_EQ(shortName.find(' '), std::string::npos) << *shortForm;
  EXPECT_EQ(platform::ShortForm(Path("missing")), std::nullopt);

  std::string system = platform::SystemDirectory();
  ASSERT_GE(system.size(), 9u);
  EXPECT_EQ(_stricmp(system.substr(system.size() - 9).c_str(), "\\system32"), 0) << system;
  EXPECT_TRUE(Exists(ExtractionToolPath())) << ExtractionToolPath();
  EXPECT_EQ(_stricmp(platform::WindowsDirectory().c_str(), system.substr(0, system.size() - 9).c_str()), 0);
  EXPECT_FALSE(platform::RunsAsSystem());
  EXPECT_NE(platform::RandomNumber(), platform::RandomNumber());
  EXPECT_EQ(platform::RunsUnderWow64(), Environment("LAUNCHER_EXPECT_WOW64") == "1");

  char module[MAX_PATH];
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  EXPECT_EQ(platform::ExecutablePath(), module);
  EXPECT_TRUE(platform::RunsWhereAPersonSees());            // Wine's desktop window station is visible
  EXPECT_EQ(platform::OwnResource("PACKAGE_BINDING"), "");  // this program carries no binding
}

TEST_F(Win32PlatformTest, OnlyAStandardUsersProcessDoesNotRunElevated) {
  // Started with the linked limited token, as a standard user's program runs; Wine runs the rest
  // elevated.
  HANDLE token = nullptr;
  HANDLE primary = nullptr;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  ASSERT_TRUE(
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) &&
      DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primary));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION standard;
  std::string commandLine = Environment("LAUNCHER_OBSERVER");
  ASSERT_TRUE(CreateProcessAsUserA(primary, nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                   nullptr, nullptr, &startup, &standard));
  EXPECT_FALSE(platform::RunsElevatedOrAsSystem(standard.dwProcessId));
  EXPECT_TRUE(platform::RunsElevatedOrAsSystem(GetCurrentProcessId()));
  EXPECT_FALSE(platform::RunsElevatedOrAsSystem(0x7FFFFFF0)) << "no such process";
  TerminateProcess(standard.hProcess, 0);
}

TEST_F(Win32PlatformTest, NameTheCodePageCannotSpellIsSpelledByItsShortForm) {
  std::wstring wide(folder_.begin(), folder_.end());
  wide += L"\\\x041f\x0430\x043f\x043a\x0430";  // "Папка"
  ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
  ASSERT_TRUE(SetEnvironmentVariableW(L"LAUNCHER_SPELLING", wide.c_str()));
  platform::AnsiSpelling spelling = platform::SpellEnvironmentValue("launcher_spelling");
  EXPECT_FALSE(spelling.exact);
  ASSERT_FALSE(spelling.shortForm.empty());
  EXPECT_EQ(spelling.shortForm.find('?'), std::string::npos);
  EXPECT_EQ(platform::KindOf(spelling.shortForm), platform::PathKind::Directory);
  SetEnvironmentVariableW(L"LAUNCHER_SPELLING", L"C:\\plain");
  EXPECT_TRUE(platform::SpellEnvironmentValue("LAUNCHER_SPELLING").exact);

  // A letter the code page has only a look-alike for: "M\u0101ra" must not pass for the folder
  // "Mara" beside it.
  ASSERT_TRUE(CreateDirectoryA(Path("Mara").c_str(), nullptr));
  std::wstring bestFit(folder_.begin(), folder_.end());
  bestFit += L"\\M\x0101ra";
  ASSERT_TRUE(CreateDirectoryW(bestFit.c_str(), nullptr));
  ASSERT_TRUE(SetEnvironmentVariableW(L"LAUNCHER_SPELLING", bestFit.c_str()));
  spelling = platform::SpellEnvironmentValue("LAUNCHER_SPELLING");
  EXPECT_FALSE(spelling.exact);
  EXPECT_NE(platform::IdentifyDirectory(spelling.shortForm).id, platform::IdentifyDirectory(Path("Mara")).id);
}

TEST_F(Win32PlatformTest, ProtectedDirectoryIsCreatedHeldAndReadsBackAsAnOwnLeftover) {
  std::string protectedPath = Path("protected");
  platform::HeldDirectory created = platform::CreateHeldDirectory(protectedPath, kExpansionDirectorySecurity);
  ASSERT_TRUE(created);
  EXPECT_FALSE(platform::CreateHeldDirectory(protectedPath, kExpansionDirectorySecurity)) << "never one that exists";
  platform::ReleaseHeldDirectory(created);
  platform::DirectorySecurity security;
  auto remember = [&](const platform::DirectorySecurity& read) {
    security = read;
    return IsOwnLeftover(read);
  };
  EXPECT_FALSE(platform::HoldTrustedDirectory(protectedPath, remember));
  bool system = false;
  for (const std::string& entry : security.entries) system = system || entry == "S-1-5-18";
  EXPECT_TRUE(system);
  // Wine keeps no owner: it reads back as its user, whom an own leftover may not name (on Windows
  // the owner is SYSTEM or the Administrators group, which created it).
  EXPECT_EQ(security.owner.rfind("S-1-5-21-", 0), 0u) << security.owner;

  // A folder made without a descriptor is open to others, and so never anyone's leftover.
  ASSERT_TRUE(CreateDirectoryA(Path("plain").c_str(), nullptr));
  EXPECT_FALSE(platform::HoldTrustedDirectory(Path("plain"), remember));
  EXPECT_FALSE(IsOwnLeftover(security));
  EXPECT_FALSE(platform::HoldTrustedDirectory(Path("missing"), remember));
  EXPECT_FALSE(platform::CreateHeldDirectory(Path("bad"), "not a descriptor"));
  EXPECT_FALSE(Exists(Path("bad")));
}

TEST_F(Win32PlatformTest, AHeldDirectoryIsRemovedThroughItsHoldAndNothingALinkLeadsTo) {
  std::string path = Path("tree");
  platform::HeldDirectory held = platform::CreateHeldDirectory(path, kExpansionDirectorySecurity);
  ASSERT_TRUE(held);
  ASSERT_TRUE(CreateDirectoryA(Path("tree\\install").c_str(), nullptr));
  Write(Path("tree\\install\\component.isf"), "x");
  ASSERT_TRUE(SetFileAttributesA(Path("tree\\install\\component.isf").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(platform::RemoveHeldDirectory(held));
  EXPECT_FALSE(Exists(path));
  std::string inRoot = "C:\\launcher-test-" + std::to_string(GetCurrentProcessId());  // the folder above: C:\ itself
  EXPECT_TRUE(platform::RemoveHeldDirectory(platform::CreateHeldDirectory(inRoot, kExpansionDirectorySecurity)));
  EXPECT_FALSE(Exists(inRoot));

  // A file somebody holds open without delete sharing stays, named with the reason; its folder is not.
  held = platform::CreateHeldDirectory(path, kExpansionDirectorySecurity);
  ASSERT_TRUE(CreateDirectoryA(Path("tree\\install").c_str(), nullptr));
  Write(Path("tree\\install\\held.txt"), "x");
  HANDLE holder = CreateFileA(Path("tree\\install\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  std::vector<platform::LeftEntry> left;
  EXPECT_FALSE(platform::RemoveHeldDirectory(held, &left));
  CloseHandle(holder);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path + ": " + left[0].reason, "install\\held.txt: could not be opened (status 0xC0000043)");

  // A tree with links below it, made on the Unix side: Windows removes a link as itself, Wine
  // opens what it leads to and so leaves the link; what it leads to stays whole either way.
  std::string tree = Environment("LAUNCHER_TEST_TREE");
  ASSERT_FALSE(tree.empty());
  platform::HeldDirectory linked =
      platform::HoldTrustedDirectory(tree, [](const platform::DirectorySecurity&) { return true; });
  ASSERT_TRUE(linked);
  left.clear();
  bool removed = platform::RemoveHeldDirectory(linked, &left);
  EXPECT_EQ(removed, !Exists(tree));
  EXPECT_EQ(removed, left.empty());
  for (const platform::LeftEntry& entry : left) EXPECT_EQ(entry.reason.rfind("not reached as itself", 0), 0u);
  EXPECT_FALSE(Exists(tree + "\\sub"));
  EXPECT_EQ(Read(Environment("LAUNCHER_TEST_LINK_TARGET") + "\\keep.txt"), "keep");
}

TEST_F(Win32PlatformTest, RenameMovesTheObjectItselfOrNothing) {
  ASSERT_TRUE(CreateDirectoryA(Path("a").c_str(), nullptr));
  Write(Path("a\\inside.txt"), "x");
  EXPECT_TRUE(platform::RenamePath(Path("a"), Path("b")));
  EXPECT_EQ(Read(Path("b\\inside.txt")), "x");
  ASSERT_TRUE(CreateDirectoryA(Path("c").c_str(), nullptr));
  EXPECT_FALSE(platform::RenamePath(Path("b"), Path("c")));
  EXPECT_TRUE(Exists(Path("b\\inside.txt")));
  EXPECT_FALSE(platform::RenamePath(Path("missing"), Path("d")));
  // An aside name that somebody's file already holds: neither file is replaced.
  Write(Path("leftover"), "planted");
  Write(Path("taken"), "somebody's");
  EXPECT_FALSE(platform::RenamePath(Path("leftover"), Path("taken")));
  EXPECT_EQ(Read(Path("taken")), "somebody's");
  EXPECT_EQ(Read(Path("leftover")), "planted");

  std::string link = Environment("LAUNCHER_TEST_LINK");
  if (!link.empty()) {
    // Renamed as itself (Windows) or not at all (Wine, which would move the target): the folder
    // it points at never moves.
    std::string target = Environment("LAUNCHER_TEST_LINK_TARGET");
    bool renamed = platform::RenamePath(link, link + ".aside");
    EXPECT_TRUE(Exists(target + "\\keep.txt"));
    if (renamed) platform::RenamePath(link + ".aside", link);
  }
}

TEST_F(Win32PlatformTest, HeldFileCannotBeChangedAndHashesWithTheSystemsCryptography) {
  Write(Path("Setup.cab"), "abc");
  platform::HeldFile held = platform::HoldFileForReading(Path("Setup.cab"));
  ASSERT_TRUE(held);
  EXPECT_EQ(platform::Sha256Of(held), std::string("\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
                                                  "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad",
                                                  32));
  HANDLE writer = CreateFileA(Path("Setup.cab").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  Write(Path("other.cab"), "xyz");
  EXPECT_FALSE(MoveFileExA(Path("other.cab").c_str(), Path("Setup.cab").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(DeleteFileA(Path("Setup.cab").c_str()));
  // Others may read it, as the cabinet tool does.
  EXPECT_EQ(Read(Path("Setup.cab")), "abc");
  // Copied while hashed, into a file made new; never over one that exists.
  EXPECT_EQ(platform::Sha256Of(held, Path("copy.cab")), platform::Sha256Of(held));
  EXPECT_EQ(Read(Path("copy.cab")), "abc");
  EXPECT_EQ(platform::Sha256Of(held, Path("copy.cab")), "");
  EXPECT_EQ(Read(Path("copy.cab")), "abc");
  // A carried cabinet that the file cuts short is no cabinet at all; the bytes it has hash whole.
  EXPECT_EQ(platform::Sha256Of(held, std::nullopt, platform::ByteRange{1, 3}), "");
  EXPECT_EQ(platform::Sha256Of(held, std::nullopt, platform::ByteRange{1, 2}).size(), 32u);
  platform::ReleaseHeldFile(held);
  EXPECT_TRUE(MoveFileExA(Path("other.cab").c_str(), Path("Setup.cab").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(platform::HoldFileForReading(Path("missing.cab")));
}

TEST_F(Win32PlatformTest, SystemWideLockIsTakenOnce) {
  std::string name = "Global\\LAUNCHER-PLATFORM-TEST-" + std::to_string(GetCurrentProcessId());
  EXPECT_TRUE(platform::HoldSystemWideLock(name, kExpansionLockSecurity));
  EXPECT_FALSE(platform::HoldSystemWideLock(name, kExpansionLockSecurity));
}

// What the observer program reported: its command line, working directory and show state.
std::string Observed(const std::string& folder) {
  std::ifstream file(folder + "\\observed.txt", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST_F(Win32PlatformTest, StartRequestCarriesParametersDirectoryAndShowState) {
  std::string observer = Environment("LAUNCHER_OBSERVER");
  ASSERT_FALSE(observer.empty());
  auto start = [&](const std::optional<std::string>& parameters, int show) {
    DeleteFileA(Path("observed.txt").c_str());
    platform::StartResult started = platform::StartProgram(observer, parameters, folder_, show, false);
    EXPECT_TRUE(started.process);
    if (started.process) {
      platform::WaitForProcessEnd(started.process);
      // The process handle is closed after the wait (Wine counts no handles, but knows a closed one).
      DWORD flags = 0;
      EXPECT_FALSE(GetHandleInformation(static_cast<HANDLE>(started.process.value), &flags));
    }
    return Observed(folder_);
  };
  std::string none = start(std::nullopt, platform::kShowNormal);
  EXPECT_NE(none.find("directory=" + folder_ + "\n"), std::string::npos) << none;
  EXPECT_NE(none.find("show=1\n"), std::string::npos) << none;
  EXPECT_NE(none.find("command-line=\"" + observer + "\"\n"), std::string::npos) << "the quoted path alone: " << none;

  std::string given = start(std::string("/I:C:\\a b\\c.isf"), platform::kHide);
  EXPECT_NE(given.find("command-line=\"" + observer + "\" /I:C:\\a b\\c.isf\n"), std::string::npos) << given;
  EXPECT_NE(given.find("show=0\n"), std::string::npos) << given;
}

TEST_F(Win32PlatformTest, FailedStartsGiveTheSystemsReasonAndEndsTheFullExitCode) {
  platform::StartResult missing = platform::StartProgram(Path("missing.exe"), std::nullopt, folder_, 0, true);
  EXPECT_FALSE(missing.process || missing.job) << "nothing, no job either, is left of a start that failed";
  EXPECT_EQ(missing.error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
  std::ofstream(Path("InstallGui.exe"), std::ios::binary) << "random bytes, no program";
  platform::StartResult noProgram = platform::StartProgram(Path("InstallGui.exe"), std::nullopt, folder_, 0, false);
  EXPECT_FALSE(noProgram.process);
  EXPECT_EQ(noProgram.error, static_cast<unsigned long>(ERROR_BAD_EXE_FORMAT));
  EXPECT_NE(platform::SystemErrorText(noProgram.error).find("%1"), std::string::npos) << "the insert is left to fill";
  // A bare name is never searched for, neither beside the launcher nor along PATH.
  EXPECT_FALSE(platform::StartProgram("cmd.exe", std::string("/c exit 0"), folder_, 0, false).process);

  platform::StartResult crashed =
      platform::StartProgram(Environment("LAUNCHER_OBSERVER"), std::string("/exit:0xC0000005"), folder_, 0, true);
  ASSERT_TRUE(crashed.process);
  EXPECT_TRUE(crashed.job);
  EXPECT_EQ(platform::WaitForProcessEnd(crashed.process), 0xC0000005ul);
  platform::ReleaseJob(crashed.job);
}

TEST_F(Win32PlatformTest, LogFilesAreAppendedByEveryHolderAndNeverOpenedAsAFolder) {
  platform::AppendFile first;
  platform::AppendFile second;
  ASSERT_EQ(platform::OpenForAppending(Path("run.log"), "D:P(A;;FA;;;SY)", &first), platform::AppendOpening::Opened);
  // A reader such as CMTrace, which shares reading and writing only, keeps no run from appending.
  HANDLE reader = CreateFileA(Path("run.log").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(platform::OpenForAppending(Path("run.log"), "D:P(A;;FA;;;SY)", &second), platform::AppendOpening::Opened);
  EXPECT_TRUE(platform::AppendTo(first, "one\r\n") && platform::AppendTo(second, "two\r\n") &&
              platform::AppendTo(first, "three\r\n"));
  CloseHandle(reader);
  platform::CloseAppendFile(first);
  platform::CloseAppendFile(second);
  EXPECT_EQ(Read(Path("run.log")), "one\r\ntwo\r\nthree\r\n") << "each write at the end, whoever wrote before";
  ASSERT_TRUE(CreateDirectoryA(Path("folder.log").c_str(), nullptr));
  EXPECT_EQ(platform::OpenForAppending(Path("folder.log"), "D:P(A;;FA;;;SY)", &first), platform::AppendOpening::Failed);
}

TEST_F(Win32PlatformTest, FileSizesBelowADirectoryByAnsiOrUtf8Name) {
  std::ofstream(Path("plain.bin"), std::ios::binary) << "12345";
  CreateDirectoryW(std::wstring(folder_.begin(), folder_.end()).append(L"\\Gr\u00fc\u00dfe").c_str(), nullptr);
  HANDLE file =
      CreateFileW(std::wstring(folder_.begin(), folder_.end()).append(L"\\Gr\u00fc\u00dfe\\\u0416.txt").c_str(),
                  GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, "abc", 3, &written, nullptr);
  CloseHandle(file);
  EXPECT_EQ(platform::FileSize(Path("plain.bin")), 5ull);
  EXPECT_EQ(platform::FileSizeBelow(folder_, "plain.bin", false), 5ull);
  EXPECT_EQ(platform::FileSizeBelow(folder_,
                                    "Gr\xc3\xbc\xc3\x9f"
                                    "e\\\xd0\x96.txt",
                                    true),
            3ull);
  EXPECT_EQ(platform::FileSizeBelow(folder_, "missing.bin", false), std::nullopt);
  EXPECT_EQ(platform::FileSize(folder_), std::nullopt) << "a directory is no file";
}

TEST_F(Win32PlatformTest, AHeldDirectoryKeepsItsPlaceAndIdentityAndCanBeListed) {
  std::string path = Path("held");
  platform::HeldDirectory held = platform::CreateHeldDirectory(path, kExpansionDirectorySecurity);
  ASSERT_TRUE(held);
  Write(Path("held\\inside.txt"), "x");
  EXPECT_FALSE(MoveFileExA(path.c_str(), Path("moved").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA((path + "\\*").c_str(), &found);
  EXPECT_NE(listing, INVALID_HANDLE_VALUE) << "the installer may list its own folder";
  if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
  platform::DirectoryIdentity identity = platform::IdentifyDirectory(path + "\\.\\");
  EXPECT_EQ(identity.id, platform::HeldDirectoryIdentity(held));
  EXPECT_EQ(_stricmp(identity.finalPath.c_str(), path.c_str()), 0) << identity.finalPath;
  platform::ReleaseHeldDirectory(held);
  EXPECT_TRUE(MoveFileExA(path.c_str(), Path("moved").c_str(), 0));
  EXPECT_EQ(platform::IdentifyDirectory(Path("moved")).id, identity.id) << "the identity travels with it";
  EXPECT_EQ(platform::IdentifyDirectory(Path("moved\\inside.txt")).id, "") << "a file is no directory";
  std::string link = Environment("LAUNCHER_TEST_LINK");
  ASSERT_FALSE(link.empty());
  EXPECT_EQ(
      _stricmp(platform::IdentifyDirectory(link).finalPath.c_str(), Environment("LAUNCHER_TEST_LINK_TARGET").c_str()),
      0)
      << "a link resolves to where it leads";
}

TEST_F(Win32PlatformTest, EveryConsoleLineIsFlushedAsItIsWritten) {
  std::string path = Path("output.txt");
  std::fflush(stdout);
  int saved = _dup(_fileno(stdout));
  int file = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, 0644);
  ASSERT_GE(file, 0);
  _dup2(file, _fileno(stdout));
  PrintLine("first line");
  std::string afterFirst = Read(path);  // read while the line could still sit in a buffer
  PrintLine("second");
  std::string afterSecond = Read(path);
  _dup2(saved, _fileno(stdout));
  _close(file);
  _close(saved);
  EXPECT_EQ(afterFirst, "first line\r\n");  // the console stays in text mode
  EXPECT_EQ(afterSecond, "first line\r\nsecond\r\n");
}

TEST_F(Win32PlatformTest, DllsByNameComeFromTheSystemDirectoryOnly) {
  // A DLL that lies only beside this program: found before the restriction, not after it.
  char module[MAX_PATH];
  GetModuleFileNameA(nullptr, module, MAX_PATH);
  std::string beside = std::string(module).substr(0, std::string(module).rfind('\\')) + "\\planted_probe.dll";
  ASSERT_TRUE(Exists(beside)) << beside;
  platform::RestrictDllSearchToSystemDirectory();
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("planted_probe.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
