#include "workspace/cleanup.h"

#include "launcher/console.h"
#include "launcher/process_state.h"
#include "platform/platform.h"
#include "workspace/locations.h"
#include "workspace/process_runner.h"

std::string RemovalParameters(const std::string& expansionDirectory) {
  // Quoted, so that a blank cannot split the path into two directories to remove; /D keeps a
  // registry AutoRun command out of the hidden, unbounded wait; /V:OFF keeps "!" literal.
  return "/D /V:OFF /C rmdir /S /Q \"" + expansionDirectory + "\"";
}

void CleanUpWorkspace() {
  PrintLine(launchOptions.installFailed ? "Install Failed, Beginning Cleanup..." : "Install Complete, Beginning Cleanup...");
  // Checked again: a link planted in the temporary directory since the expansion is not followed.
  std::string problem = TemporaryDirectoryProblem();
  if (problem.empty()) {
    RunAndWait(CommandInterpreterPath(), RemovalParameters(ExpansionDirectory()), platform::kHide);
  } else {
    PrintLine(problem);
  }
  PrintLine("Cleanup Complete.");
}
