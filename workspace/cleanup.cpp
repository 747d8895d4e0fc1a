#include "workspace/cleanup.h"

#include "common/console.h"
#include "common/run_log.h"
#include "platform/platform.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"
#include "workspace/process_runner.h"

std::string RemovalParameters(const std::string& expansionDirectory) {
  // Quoted, so that a blank cannot split the path into two directories to remove; /D keeps a
  // registry AutoRun command out of the hidden, unbounded wait; /V:OFF keeps "!" literal.
  return "/D /V:OFF /C rmdir /S /Q \"" + expansionDirectory + "\"";
}

void CleanUpWorkspace(bool installFailed) {
  PrintLine(installFailed ? "Install Failed, Beginning Cleanup..." : "Install Complete, Beginning Cleanup...");
  // The removal follows links below the path it is given, so a link that stands in the
  // directory's place since the expansion is left alone.
  std::string expansionDirectory = ExpansionDirectory();
  bool ours = IsTheHeldExpansionDirectory(expansionDirectory);
  // Released only now, just after the check: the interpreter's removal stops at a directory held
  // open without delete sharing (Wine's removes nothing of it then).
  ReleaseExpansionDirectory();
  if (platform::KindOf(expansionDirectory) == platform::PathKind::Link) {
    PrintLine("Unable to use the temporary directory: TempExpandedFiles in it is a link or junction.");
  } else if (!ours) {
    // The path names another directory than the run's own: what is there is not the run's to remove.
    PrintLine(
        "Unable to use the temporary directory: TempExpandedFiles in it is no longer the one this run "
        "created; it was left alone.");
  } else {
    RunAndWait(CommandInterpreterPath(), RemovalParameters(expansionDirectory), platform::kHide);
    LogInformation(platform::PathExists(expansionDirectory) ? "The expansion directory is still there."
                                                            : "The expansion directory was removed.");
  }
  PrintLine("Cleanup Complete.");
}
