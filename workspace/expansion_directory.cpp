#include "workspace/expansion_directory.h"

#include <cstdio>

#include "common/process_state.h"
#include "platform/platform.h"
#include "workspace/cleanup.h"
#include "workspace/locations.h"
#include "workspace/process_runner.h"

const char kExpansionDirectorySecurity[] = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const char kExpansionLockSecurity[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

namespace {

const char kLocalSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";

// A leftover name that a standard user guessed and took already costs one more try, not the run.
constexpr int kAsideAttempts = 16;

bool MoveAside(const std::string& expansionDirectory) {
  unsigned long number = platform::UniqueNumber();
  for (int attempt = 0; attempt < kAsideAttempts; ++attempt) {
    if (platform::RenamePath(expansionDirectory, AsideName(expansionDirectory, number + attempt))) return true;
  }
  return false;
}

bool IsOwnLeftoverAt(const std::string& path) {
  platform::DirectorySecurity security;
  return platform::ReadDirectorySecurity(path, &security) && IsOwnLeftover(security);
}

}  // namespace

std::string ExpansionLockName(const std::string& temporaryDirectoryId) {
  return "Global\\TempExpandedFiles-" + temporaryDirectoryId;
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

std::string CreateFreshExpansionDirectory(const std::string& expansionDirectory) {
  const std::string prefix = "Unable to use the temporary directory: ";
  platform::PathKind kind = platform::KindOf(expansionDirectory);
  if (kind == platform::PathKind::Directory && IsOwnLeftoverAt(expansionDirectory)) {
    // Only SYSTEM and administrators could have shaped what is below it, so the removal may
    // follow it down; the run that left it ended without its cleanup.
    RunAndWait(CommandInterpreterPath(), RemovalParameters(expansionDirectory), platform::kHide);
    kind = platform::KindOf(expansionDirectory);
  }
  // Anything else of that name (a link, a file, a folder a standard user could write to) is
  // never entered, written or removed: renamed, it no longer stands in the launcher's way.
  if (kind != platform::PathKind::Missing && !MoveAside(expansionDirectory)) {
    return prefix + "TempExpandedFiles in it could not be removed or moved aside.";
  }
  // Fails when anything of the name appeared since: the launcher runs nothing from a directory
  // that it did not create itself.
  if (!platform::MakeDirectoryWithSecurity(expansionDirectory, kExpansionDirectorySecurity)) {
    return prefix + "TempExpandedFiles in it could not be created.";
  }
  // Held until the cleanup's removal: whoever may write to "temp" may otherwise rename it away and
  // put a folder of their own in its place.
  platform::ReleaseHeldDirectory(temporaryDirectory.expansionDirectory);
  temporaryDirectory.expansionDirectory = platform::HoldDirectory(expansionDirectory);
  if (!temporaryDirectory.expansionDirectory) return prefix + "TempExpandedFiles in it could not be created.";
  return "";
}

bool IsTheHeldExpansionDirectory(const std::string& expansionDirectory) {
  std::string held = platform::HeldDirectoryIdentity(temporaryDirectory.expansionDirectory);
  return !held.empty() && platform::IdentifyDirectory(expansionDirectory).id == held;
}

void ReleaseExpansionDirectory() {
  platform::ReleaseHeldDirectory(temporaryDirectory.expansionDirectory);
  temporaryDirectory.expansionDirectory = platform::HeldDirectory{};
}
