#include "workspace/expansion.h"

#include "common/console.h"
#include "platform/platform.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"
#include "workspace/package_binding.h"
#include "workspace/process_runner.h"

std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath) {
  return "/Y /A /E /L \"" + expansionDirectory + "\" \"" + cabinetPath + "\"";
}

Expansion ExpandPackage() {
  std::string expansionDirectory = ExpansionDirectory();
  std::string cabinetPath = FindPackageCabinet();
  std::string toolPath = ExtractionToolPath();
  if (toolPath.empty()) {
    PrintLine("Unable to locate the extrac32.exe utility.");
    return Expansion::NotStarted;
  }
  // Before the silent road of a missing cabinet: a folder that cannot be named hides the cabinet.
  std::string problem = LauncherDirectoryProblem();
  if (!problem.empty()) {
    PrintLine(problem);
    return Expansion::NotStarted;
  }
  if (cabinetPath.empty()) return Expansion::NotStarted;
  problem = TemporaryDirectoryProblem();
  if (!problem.empty()) {
    PrintLine(problem);
    return Expansion::NotStarted;
  }
  // Held from the check to the end of the extraction, so that extrac32 reads the bytes checked.
  HeldCabinet heldCabinet;
  if (!PackageCabinetMatches(cabinetPath, &heldCabinet)) {
    PrintLine("The package cabinet does not match this launcher.");
    return Expansion::NotStarted;
  }
  if (!ClaimExpansionDirectory(expansionDirectory)) return Expansion::InUse;

  PrintLine("Creating Temporary Directory...");
  problem = CreateFreshExpansionDirectory(expansionDirectory);
  if (!problem.empty()) {
    PrintLine(problem);
    return Expansion::NotStarted;
  }
  PrintLine("Expanding Install Files...");
  RunAndWait(toolPath, ExtractionParameters(expansionDirectory, cabinetPath), platform::kHide);
  return Expansion::Done;
}
