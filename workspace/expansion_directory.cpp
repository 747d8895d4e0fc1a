#include "workspace/expansion_directory.h"

#include <cstdio>
#include <cstring>

#include "common/package_layout.h"
#include "common/process_state.h"
#include "common/run_log.h"
#include "platform/platform.h"
#include "workspace/locations.h"

const char kExpansionDirectorySecurity[] = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const char kExpansionLockSecurity[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

namespace {

// The run's expansion directory, held from its creation until its removal so that nobody can
// rename or replace it meanwhile; written only by Hold, RemoveExpansionDirectory and
// ReleaseExpansionDirectory.
platform::HeldDirectory heldDirectory;

// "" for TempExpandedFiles itself, or the fresh name that the creation took beside it because
// TempExpandedFiles there is someone else's.
std::string freshName;

const char kLocalSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";

// A leftover name that a standard user guessed and took already costs one more try, not the run.
constexpr int kAsideAttempts = 16;

// A removal's log lists this many entries that it left; the rest are counted.
constexpr std::size_t kLeftEntriesLogged = 20;

// The line for an expansion directory the run cannot use: "Unable to use the temporary directory:
// TempExpandedFiles in it " and what is so.
std::string FolderUnusable(const std::string& whatIsSo) {
  return kTemporaryDirectoryUnusable + std::string(package::kExpansionFolder) + " in it " + whatIsSo;
}

// Says where something that stood in the expansion directory's place went.
void LogMovedAside(const std::string& expansionDirectory, const std::string& aside) {
  LogWarning("What stood at " + expansionDirectory + " was not this run's to use; it was moved aside to " + aside +
             " for an administrator to look at.");
}

bool MoveAside(const std::string& expansionDirectory) {
  unsigned long number = platform::UniqueNumber();
  for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
    std::string aside = AsideName(expansionDirectory, number + attempt);
    if (!platform::RenamePath(expansionDirectory, aside)) continue;
    LogMovedAside(expansionDirectory, aside);
    return true;
  }
  return false;
}

// Enters what the removal of the run's expansion directory came to: gone, or what it left and why.
void LogRemoval(bool removed, const std::vector<platform::LeftEntry>& left) {
  const std::string directory = "the expansion directory this run created as " + ExpansionDirectory();
  if (removed) {
    LogInformation("Removed " + directory + ", with everything below it, through its hold.");
    return;
  }
  LogWarning("Could not remove " + directory +
             (left.empty() ? "." : "; entries left below it: " + std::to_string(left.size()) + "."));
  for (std::size_t i = 0; i < left.size() && i < kLeftEntriesLogged; ++i) {
    LogWarning("Left " + left[i].path + ": " + left[i].reason + ".");
  }
  if (left.size() > kLeftEntriesLogged)
    LogWarning("And " + std::to_string(left.size() - kLeftEntriesLogged) + " more.");
}

bool Hold(platform::HeldDirectory directory, const std::string& name) {
  if (!directory) return false;
  platform::ReleaseHeldDirectory(heldDirectory);
  heldDirectory = directory;
  freshName = name;
  return true;
}

// Goes on beside TempExpandedFiles that someone else keeps, in a directory of a name nobody can
// foresee, made new and held in one call as the usual one is. Refused where no random number is to
// be had, or where its longer name would make the installer's path pass MAX_PATH: the promise of a
// "temp" of up to 214 characters is kept for TempExpandedFiles itself.
bool CreateBeside(const std::string& expansionDirectory) {
  std::optional<unsigned long long> number = platform::RandomNumber();
  if (!number) return false;
  std::string name = FreshExpansionName(*number);
  std::string path = expansionDirectory.substr(0, expansionDirectory.rfind('\\') + 1) + name;
  if (path.size() + 1 + std::strlen(package::kInstallerX64) >= package::kMaxPath) return false;
  return Hold(platform::CreateHeldDirectory(path, kExpansionDirectorySecurity), name);
}

}  // namespace

std::string ExpansionDirectory() {
  const std::string& temp = temporaryDirectory.path;
  if (temp.empty()) return "";
  // A drive's root comes back as "C:\".
  return (temp.back() == '\\' ? temp.substr(0, temp.size() - 1) : temp) + "\\" +
         (freshName.empty() ? package::kExpansionFolder : freshName);
}

std::string ExpansionLockName(const std::string& temporaryDirectoryId) {
  // Global: a launcher in another session (a fleet tool's, as SYSTEM) meets the same lock.
  return "Global\\" + std::string(package::kExpansionFolder) + "-" + temporaryDirectoryId;
}

bool ClaimExpansionDirectory() {
  // Named after the directory, not after the text of "temp": a second launcher whose "temp" spells
  // the same directory otherwise (8.3, "..", a link, another letter case) meets the same lock.
  return !temporaryDirectory.id.empty() &&
         platform::HoldSystemWideLock(ExpansionLockName(temporaryDirectory.id), kExpansionLockSecurity);
}

bool IsOwnLeftover(const platform::DirectorySecurity& security) {
  // No DACL at all grants everyone everything.
  if (!security.hasDacl) return false;
  auto trusted = [](const std::string& sid) { return sid == kLocalSystem || sid == kAdministrators; };
  if (!trusted(security.owner)) return false;
  for (const std::string& entry : security.entries) {
    if (!trusted(entry)) return false;
  }
  return true;
}

std::string AsideName(const std::string& expansionDirectory, unsigned long number) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08lx", number & 0xFFFFFFFFUL);
  return expansionDirectory + "." + digits;
}

std::string FreshExpansionName(unsigned long long number) {
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", number);
  return std::string(package::kExpansionFolder) + "." + digits;
}

std::string CreateFreshExpansionDirectory(const std::string& expansionDirectory) {
  platform::PathKind kind = platform::KindOf(expansionDirectory);
  if (kind == platform::PathKind::Directory) {
    // Only SYSTEM and administrators could have shaped what is below it; the run that left it
    // ended without its cleanup. Judged and removed through one handle.
    platform::RemoveHeldDirectory(platform::HoldTrustedDirectory(expansionDirectory, IsOwnLeftover));
    kind = platform::KindOf(expansionDirectory);
  }
  // Anything else of that name (a link, a file, a folder a standard user could write to) is
  // never entered, written or removed: renamed, it no longer stands in the launcher's way.
  bool inTheWay = kind != platform::PathKind::Missing && !MoveAside(expansionDirectory);
  // Fails when anything of the name appeared since: the launcher runs nothing from a directory
  // that it did not create itself, and holds it from that very call on.
  if (!inTheWay && Hold(platform::CreateHeldDirectory(expansionDirectory, kExpansionDirectorySecurity), "")) return "";
  // Someone keeps TempExpandedFiles (held open, or taken again as soon as it was moved aside).
  if (platform::KindOf(expansionDirectory) != platform::PathKind::Missing && CreateBeside(expansionDirectory)) {
    LogWarning(expansionDirectory + " is someone else's and could not be moved aside; the run goes on in " + freshName +
               " beside it.");
    return "";
  }
  return FolderUnusable(inTheWay ? "could not be removed or moved aside." : "could not be created.");
}

bool IsTheHeldExpansionDirectory(const std::string& expansionDirectory) {
  std::string held = platform::HeldDirectoryIdentity(heldDirectory);
  return !held.empty() && platform::IdentifyDirectory(expansionDirectory).id == held;
}

std::string ExpansionDirectoryReplacement() {
  std::string expansionDirectory = ExpansionDirectory();
  if (platform::KindOf(expansionDirectory) == platform::PathKind::Link) return FolderUnusable("is a link or junction.");
  // What stands at the path now is someone else's.
  if (!IsTheHeldExpansionDirectory(expansionDirectory))
    return FolderUnusable("is no longer the one this run created; it was left alone.");
  return "";
}

bool RemoveExpansionDirectory() {
  if (!heldDirectory) return false;
  std::vector<platform::LeftEntry> left;
  bool removed = platform::RemoveHeldDirectory(heldDirectory, &left);
  heldDirectory = platform::HeldDirectory{};
  LogRemoval(removed, left);
  return removed;
}

void ReleaseExpansionDirectory() {
  platform::ReleaseHeldDirectory(heldDirectory);
  heldDirectory = platform::HeldDirectory{};
  freshName.clear();
}

std::string UsedTemporaryDirectory() {
  if (freshName.empty()) return temporaryDirectory.path;
  return temporaryDirectory.path + ", in " + freshName + ": " + package::kExpansionFolder +
         " there is someone else's and could not be moved aside";
}
