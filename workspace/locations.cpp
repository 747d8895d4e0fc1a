#include "workspace/locations.h"

#include <string>

#include "common/package_layout.h"
#include "common/process_state.h"
#include "platform/platform.h"

const char kTemporaryDirectoryUnusable[] = "Unable to use the temporary directory: ";

namespace {

// Beyond MAX_PATH the installer does not start, and extrac32.exe writes what it can.
using package::kMaxPath;

// The longest path a run forms in "temp": the installer, "\TempExpandedFiles\install\x64\InstallGui.exe"
// (45 characters); the rewrite's "...\install\component.isf.tmp" is one shorter, a leftover's
// aside name shorter still. A fresh name beside a squatted TempExpandedFiles is longer: its
// creation checks the budget itself.
constexpr std::size_t kLongestPathBelowTemp = 1 + std::char_traits<char>::length(package::kExpansionFolder) + 1 +
                                              std::char_traits<char>::length(package::kInstallerX64);
static_assert(kLongestPathBelowTemp == 45, "the README promises a \"temp\" of up to 214 characters");

bool IsAbsoluteWindowsPath(const std::string& path) {
  bool driveRooted = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && path[2] == '\\';
  bool uncRooted = path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
  return driveRooted || uncRooted;
}

// Characters no Windows path holds, and "%", which a command interpreter would expand in the
// paths the installer is given.
bool HoldsForbiddenCharacter(const std::string& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c < 32 || c == '"' || c == '<' || c == '>' || c == '|' || c == '*' || c == '?' || c == '%') {
      return true;
    }
    if (c == ':' && i != 1) return true;
  }
  return false;
}

// The value of "temp" as the launcher can use it: its short form where the code page cannot
// spell the value ("" when there is none), the value itself, byte for byte, everywhere else.
std::optional<std::string> TemporaryValue() {
  std::optional<std::string> temp = platform::EnvironmentValue("temp");
  if (!temp) return std::nullopt;
  platform::AnsiSpelling spelling = platform::SpellEnvironmentValue("temp");
  return spelling.exact ? *temp : spelling.shortForm;
}

// "\\.\" and "\\?\" (GLOBALROOT among them) reach any device or directory of the system by its
// object name, past every check a path of a drive or share gets.
bool IsDevicePath(const std::string& path) {
  return path.size() >= 4 && path[0] == '\\' && path[1] == '\\' && (path[2] == '.' || path[2] == '?') &&
         path[3] == '\\';
}

// What keeps a directory from holding the paths the launcher forms in it, or "".
std::string PathProblem(const std::string& path) {
  if (IsDevicePath(path)) return "TEMP names a device path (\\\\.\\ or \\\\?\\), which the launcher does not use.";
  if (HoldsForbiddenCharacter(path)) return "TEMP holds characters that the launcher does not accept in a path.";
  if (!IsAbsoluteWindowsPath(path)) return "TEMP is not a full path.";
  if (path.size() + kLongestPathBelowTemp >= kMaxPath)
    return "TEMP is too long for the paths the launcher forms in it.";
  return "";
}

// The system's own answer to a "temp" where every standard user may create folders: a run as SYSTEM
// whose "temp" is SYSTEM's default, the Windows directory's Temp, works in the folder GetTempPath2W
// names (C:\Windows\SystemTemp, which only SYSTEM and administrators may write), where the system
// has the call and that folder can be used.
platform::DirectoryIdentity SystemsOwnInstead(const platform::DirectoryIdentity& temp) {
  std::string windows = platform::WindowsDirectory();
  if (!platform::RunsAsSystem() || windows.empty() || platform::IdentifyDirectory(windows + "\\Temp").id != temp.id)
    return temp;
  std::string systemsOwn = platform::TemporaryDirectoryOfTheSystem();
  platform::DirectoryIdentity own =
      systemsOwn.empty() ? platform::DirectoryIdentity{} : platform::IdentifyDirectory(systemsOwn);
  return own.id.empty() || own.finalPath.empty() || !PathProblem(own.finalPath).empty() ? temp : own;
}

std::string TemporaryDirectoryProblemOf(const std::optional<std::string>& temp, platform::DirectoryIdentity* identity) {
  platform::AnsiSpelling spelling = platform::SpellEnvironmentValue("temp");
  if (!spelling.exact && spelling.shortForm.empty()) {
    return "TEMP holds characters that the system's code page cannot spell, and it has no short name.";
  }
  if (!temp || temp->empty()) return "the TEMP environment variable is not set.";
  std::string problem = PathProblem(*temp);
  if (!problem.empty()) return problem;
  // Opened once: its final path, links and junctions followed, is the one every path is formed in.
  *identity = platform::IdentifyDirectory(*temp);
  if (identity->id.empty()) return "TEMP names no directory.";
  if (identity->finalPath.empty()) {
    return "the directory TEMP leads to has a name that the system's code page cannot spell, and no short name.";
  }
  problem = PathProblem(identity->finalPath);
  if (problem.empty()) *identity = SystemsOwnInstead(*identity);
  return problem;
}

}  // namespace

std::string ResolveTemporaryDirectory() {
  platform::DirectoryIdentity identity;
  std::string problem = TemporaryDirectoryProblemOf(TemporaryValue(), &identity);
  temporaryDirectory = TemporaryDirectory();
  if (!problem.empty()) {
    temporaryDirectory.problem = kTemporaryDirectoryUnusable + problem;
  } else {
    temporaryDirectory.path = identity.finalPath;
    temporaryDirectory.id = identity.id;
  }
  return temporaryDirectory.problem;
}

std::string QueryLauncherDirectory() {
  std::string executable = platform::ExecutablePath();
  std::size_t lastBackslash = executable.rfind('\\');
  return lastBackslash == std::string::npos ? "" : executable.substr(0, lastBackslash);
}

std::string LauncherDirectoryProblem() {
  if (!platform::ExecutablePath().empty()) return "";
  return "Unable to use the launcher's directory: its name holds characters that the system's code page cannot "
         "spell, and it has no short name.";
}

std::string ExtractionToolPath() {
  std::string systemDirectory = platform::SystemDirectory();
  return systemDirectory.empty() ? "" : systemDirectory + "\\extrac32.exe";
}

std::string ShortPathOf(const std::string& path) { return platform::ShortForm(path).value_or(""); }

std::string ReplaceExtensionWithCab(const std::string& path) {
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return "";
  std::string result = path;
  result.replace(dot + 1, 3, "cab");
  return result;
}

std::string FindPackageCabinet() {
  std::string ownCabinet = ReplaceExtensionWithCab(platform::ExecutablePath());
  if (!ownCabinet.empty() && platform::PathExists(ownCabinet)) return ShortPathOf(ownCabinet);
  std::string sharedCabinet = launcherDirectory + "\\" + package::kSharedCabinet;
  if (!platform::PathExists(sharedCabinet)) return "";
  return ShortPathOf(sharedCabinet);
}
