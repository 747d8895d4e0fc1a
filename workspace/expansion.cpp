#include "workspace/expansion.h"

#include "launcher/console.h"
#include "platform/platform.h"
#include "workspace/locations.h"
#include "workspace/process_runner.h"

std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath) {
  return "/Y /A /E /L \"" + expansionDirectory + "\" \"" + cabinetPath + "\"";
}

bool ExpandPackage() {
  std::string expansionDirectory = ExpansionDirectory();
  std::string cabinetPath = FindPackageCabinet();
  std::string toolPath = ExtractionToolPath();
  if (toolPath.empty()) {
    PrintLine("Unable to locate the extrac32.exe utility.");
    return false;
  }
  if (cabinetPath.empty()) return false;
  std::string problem = TemporaryDirectoryProblem();
  if (!problem.empty()) {
    PrintLine(problem);
    return false;
  }

  PrintLine("Creating Temporary Directory...");
  // A directory left by an earlier run is reused with what it holds.
  platform::MakeDirectory(expansionDirectory);
  PrintLine("Expanding Install Files...");
  RunAndWait(toolPath, ExtractionParameters(expansionDirectory, cabinetPath), platform::kHide);
  return true;
}
