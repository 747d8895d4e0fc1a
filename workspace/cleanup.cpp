#include "workspace/cleanup.h"

#include "common/console.h"
#include "platform/platform.h"
#include "workspace/locations.h"
#include "workspace/process_runner.h"

std::string RemovalParameters(const std::string& expansionDirectory) {
  // Quoted, so that a blank cannot split the path into two directories to remove; /D keeps a
  // registry AutoRun command out of the hidden, unbounded wait; /V:OFF keeps "!" literal.
  return "/D /V:OFF /C rmdir /S /Q \"" + expansionDirectory + "\"";
}

void CleanUpWorkspace(bool runFailed) {
  PrintLine(runFailed ? "Install Failed, Beginning Cleanup..." : "Install Complete, Beginning Cleanup...");
  // The removal follows links below the path it is given, so a link that stands in the
  // directory's place since the expansion is left alone.
  std::string expansionDirectory = ExpansionDirectory();
  if (platform::KindOf(expansionDirectory) == platform::PathKind::Link) {
    PrintLine("Unable to use the temporary directory: TempExpandedFiles in it is a link or junction.");
  } else {
    RunAndWait(CommandInterpreterPath(), RemovalParameters(expansionDirectory), platform::kHide);
  }
  PrintLine("Cleanup Complete.");
}
