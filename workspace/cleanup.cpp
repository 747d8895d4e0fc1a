#include "workspace/cleanup.h"

#include "common/console.h"
#include "workspace/expansion_directory.h"

std::string CleanUpWorkspace(bool installFailed) {
  PrintLine(installFailed ? "Install Failed, Beginning Cleanup..." : "Install Complete, Beginning Cleanup...");
  std::string replaced = ExpansionDirectoryReplacement();
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
