#include "workspace/cleanup.h"

#include "common/console.h"
#include "platform/platform.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"

std::string CleanUpWorkspace(bool installFailed) {
  PrintLine(installFailed ? "Install Failed, Beginning Cleanup..." : "Install Complete, Beginning Cleanup...");
  std::string expansionDirectory = ExpansionDirectory();
  std::string replaced;
  if (platform::KindOf(expansionDirectory) == platform::PathKind::Link) {
    replaced = "Unable to use the temporary directory: TempExpandedFiles in it is a link or junction.";
  } else if (!IsTheHeldExpansionDirectory(expansionDirectory)) {
    // What stands at the path now is someone else's.
    replaced =
        "Unable to use the temporary directory: TempExpandedFiles in it is no longer the one this run created; it was "
        "left alone.";
  }
  if (!replaced.empty()) PrintErrorLine(replaced);
  // Through the hold, never by the path: what the path names now is never looked into. The log
  // says what the removal came to.
  RemoveExpansionDirectory();
  PrintLine("Cleanup Complete.");
  return replaced;
}

Outcome EndWithCleanup(Outcome outcome, RunRecord* record) {
  std::string replaced = CleanUpWorkspace(outcome != Outcome::Installed);
  if (replaced.empty()) return outcome;
  record->failure = replaced;
  return Outcome::WorkspaceReplaced;
}
