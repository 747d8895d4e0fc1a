#include "workspace/expansion.h"

#include <map>

#include "common/console.h"
#include "common/process_state.h"
#include "common/run_log.h"
#include "platform/platform.h"
#include "workspace/cabinet_listing.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"
#include "workspace/package_binding.h"
#include "workspace/process_runner.h"

namespace {

std::string FoldAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// What one listed file is short of, or "" when it is whole.
std::string FileShortfall(const std::string& expansionDirectory, const CabinetFile& file) {
  std::optional<unsigned long long> size = platform::FileSizeBelow(expansionDirectory, file.name, file.nameIsUtf8);
  if (!size) return file.name + " is missing";
  if (*size != file.size)
    return file.name + " has " + std::to_string(*size) + " of " + std::to_string(file.size) + " bytes";
  return "";
}

}  // namespace

std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath) {
  return "/Y /A /E /L \"" + expansionDirectory + "\" \"" + cabinetPath + "\"";
}

std::string ExpansionShortfall(const std::string& expansionDirectory, const std::string& cabinetPath) {
  const std::string prefix = "Unable to expand the package: ";
  std::optional<std::vector<CabinetFile>> files = ReadCabinetListing(cabinetPath);
  if (!files) return prefix + "the package cabinet is damaged or is no cabinet.";
  if (files->empty()) return prefix + "the package cabinet holds no files.";
  // extrac32.exe writes a name that stands twice (in any letter case) twice, the later one last.
  std::map<std::string, const CabinetFile*> last;
  for (const CabinetFile& file : *files) last[FoldAsciiCase(file.name)] = &file;
  std::string first;
  std::size_t shortCount = 0;
  for (const CabinetFile& file : *files) {
    if (last[FoldAsciiCase(file.name)] != &file) continue;
    std::string shortfall = FileShortfall(expansionDirectory, file);
    if (shortfall.empty()) continue;
    LogWarning("The expansion's check: " + shortfall + ".");
    if (shortCount++ == 0) first = shortfall;
  }
  LogInformation("The expansion's check: the cabinet lists " + std::to_string(files->size()) + " files, " +
                 std::to_string(shortCount) + " of them missing or cut short.");
  if (shortCount == 0) return "";
  if (shortCount == 1) return prefix + first + ".";
  return prefix + first + ", and " + std::to_string(shortCount - 1) + " more of its " + std::to_string(files->size()) +
         " files are missing or cut short.";
}

Expansion ExpandPackage(RunRecord* record) {
  // Once for the run: every path below is formed in the directory resolved here.
  std::string temporaryProblem = ResolveTemporaryDirectory();
  std::string expansionDirectory = ExpansionDirectory();
  PackageBinding binding = ReadPackageBinding();
  // A single-file package expands the cabinet it carries, and never one beside it.
  std::string cabinetPath = binding.carried ? platform::ExecutablePath() : FindPackageCabinet();
  std::string toolPath = ExtractionToolPath();
  record->cabinetPath = cabinetPath;
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
  record->cabinetSize = platform::FileSize(cabinetPath);
  if (binding.carried && CarriedCabinetFits(binding, record->cabinetSize)) record->cabinetSize = binding.carriedSize;
  if (!temporaryProblem.empty()) {
    PrintLine(temporaryProblem);
    return Expansion::NotStarted;
  }
  record->temporaryDirectory = temporaryDirectory.path;
  LogInformation("TEMP as resolved: " + temporaryDirectory.path);
  // A bound launcher holds its cabinet from here until the private copy it checks is made.
  HeldCabinet heldCabinet;
  if ((binding.bound && !heldCabinet.Hold(cabinetPath)) ||
      (binding.carried && !CarriedCabinetFits(binding, platform::FileSize(cabinetPath)))) {
    PrintLine("The package cabinet does not match this launcher.");
    return Expansion::NotStarted;
  }
  if (!ClaimExpansionDirectory()) return Expansion::InUse;

  PrintLine("Creating Temporary Directory...");
  problem = CreateFreshExpansionDirectory(expansionDirectory);
  if (!problem.empty()) {
    PrintLine(problem);
    return Expansion::NotStarted;
  }
  if (!IsTheHeldExpansionDirectory(expansionDirectory)) {
    PrintLine("Unable to use the temporary directory: TempExpandedFiles in it was replaced after it was created.");
    ReleaseExpansionDirectory();
    return Expansion::NotStarted;
  }
  // extrac32.exe opens the cabinet by name: a bound launcher has it expand a copy in the protected
  // directory, made while hashing, so that the bytes checked are the bytes expanded.
  std::string expandedCabinet = cabinetPath;
  if (binding.bound) {
    expandedCabinet = PrivateCabinetPath(expansionDirectory, platform::UniqueNumber());
    problem = CopyMatchingCabinet(heldCabinet, binding, expandedCabinet, &record->cabinetDigest);
    heldCabinet.Release();
    if (!problem.empty()) {
      ReleaseExpansionDirectory();
      platform::RemoveEmptyDirectory(expansionDirectory);
      PrintLine(problem);
      return Expansion::NotStarted;
    }
  }
  LogInformation("Cabinet: " + CabinetText(*record));
  PrintLine("Expanding Install Files...");
  RunAndWait(toolPath, ExtractionParameters(expansionDirectory, expandedCabinet), platform::kHide);
  // extrac32.exe ends with 0 whatever it achieved: only the cabinet's own list tells.
  record->failure = ExpansionShortfall(expansionDirectory, expandedCabinet);
  // The installer sees the package's files only.
  if (binding.bound) platform::RemoveFileAt(expandedCabinet);
  return record->failure.empty() ? Expansion::Done : Expansion::Incomplete;
}
