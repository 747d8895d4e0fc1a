#include "workspace/expansion.h"

#include <map>

#include "common/ascii_case.h"
#include "common/console.h"
#include "common/package_layout.h"
#include "common/process_state.h"
#include "common/run_log.h"
#include "platform/platform.h"
#include "workspace/cabinet_listing.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"
#include "workspace/package_binding.h"
#include "workspace/process_runner.h"

namespace {

// Names of folders of their own have something besides dots and blanks: Windows drops the dots and
// blanks at a name's end, so ".. " and "..." stand for ".." or for nothing.
bool NamesNoFolder(const std::string& component) { return component.find_first_not_of(". ") == std::string::npos; }

// The line for the first listed name that leads out of the expansion directory, or "".
std::string LineForNameLeadingOut(const std::vector<CabinetFile>& files) {
  for (const CabinetFile& file : files) {
    if (LeadsOutOfTheDirectory(file.name)) {
      return "Unable to expand the package: the package cabinet lists " + file.name +
             ", a name that leads out of the directory it is expanded into.";
    }
  }
  return "";
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

bool LeadsOutOfTheDirectory(const std::string& name) {
  // A leading separator roots it, a ":" names a drive or a stream; "/" separates as "\" does.
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return true;
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    if (NamesNoFolder(name.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

std::size_t PathCharacters(const CabinetFile& file) {
  if (!file.nameIsUtf8) return file.name.size();
  // One unit for each character, two for one beyond the 16 bits (a four-byte sequence).
  std::size_t units = 0;
  for (unsigned char byte : file.name) {
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

std::string ExpansionRefusal(const std::string& expansionDirectory, const std::string& cabinetPath) {
  const std::string prefix = "Unable to expand the package: ";
  std::optional<std::vector<CabinetFile>> files = ReadCabinetListing(cabinetPath);
  // What cannot be read cannot be shown to stay inside.
  if (!files) return prefix + "the package cabinet is damaged or is no cabinet.";
  std::string leadsOut = LineForNameLeadingOut(*files);
  if (!leadsOut.empty()) return leadsOut;
  const CabinetFile* longest = nullptr;
  for (const CabinetFile& file : *files) {
    if (longest == nullptr || PathCharacters(file) > PathCharacters(*longest)) longest = &file;
  }
  // extrac32.exe forms each path as the directory, a backslash and the name; MAX_PATH counts the
  // terminating zero, so 259 characters are the most that fit.
  std::size_t length = longest == nullptr ? 0 : expansionDirectory.size() + 1 + PathCharacters(*longest);
  if (length < package::kMaxPath) return "";
  return prefix + expansionDirectory + "\\" + longest->name + " would be " + std::to_string(length) +
         " characters long, past Windows' limit of " + std::to_string(package::kMaxPath - 1) + ".";
}

std::string ExpansionShortfall(const std::string& expansionDirectory, const std::string& cabinetPath) {
  const std::string prefix = "Unable to expand the package: ";
  std::optional<std::vector<CabinetFile>> files = ReadCabinetListing(cabinetPath);
  if (!files) return prefix + "the package cabinet is damaged or is no cabinet.";
  if (files->empty()) return prefix + "the package cabinet holds no files.";
  // Never a size from outside the directory, whatever the cabinet lists by now.
  std::string leadsOut = LineForNameLeadingOut(*files);
  if (!leadsOut.empty()) return leadsOut;
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
    PrintErrorLine("Unable to locate the extrac32.exe utility.");
    return Expansion::NotStarted;
  }
  // Before the silent road of a missing cabinet: a folder that cannot be named hides the cabinet.
  std::string problem = LauncherDirectoryProblem();
  if (!problem.empty()) {
    PrintErrorLine(problem);
    return Expansion::NotStarted;
  }
  if (cabinetPath.empty()) return Expansion::NotStarted;
  record->cabinetSize = platform::FileSize(cabinetPath);
  if (binding.carried && CarriedCabinetFits(binding, record->cabinetSize)) record->cabinetSize = binding.carriedSize;
  if (!temporaryProblem.empty()) {
    PrintErrorLine(temporaryProblem);
    return Expansion::NotStarted;
  }
  record->temporaryDirectory = temporaryDirectory.path;
  LogInformation("TEMP as resolved: " + temporaryDirectory.path);
  // A bound launcher holds its cabinet from here until the private copy it checks is made.
  HeldCabinet heldCabinet;
  if ((binding.bound && !heldCabinet.Hold(cabinetPath)) ||
      (binding.carried && !CarriedCabinetFits(binding, platform::FileSize(cabinetPath)))) {
    PrintErrorLine("The package cabinet does not match this launcher.");
    return Expansion::NotStarted;
  }
  if (!ClaimExpansionDirectory()) return Expansion::InUse;

  PrintLine("Creating Temporary Directory...");
  problem = CreateFreshExpansionDirectory(expansionDirectory);
  if (!problem.empty()) {
    PrintErrorLine(problem);
    return Expansion::NotStarted;
  }
  expansionDirectory = ExpansionDirectory();
  record->temporaryDirectory = UsedTemporaryDirectory();
  if (!IsTheHeldExpansionDirectory(expansionDirectory)) {
    PrintErrorLine(kTemporaryDirectoryUnusable + std::string(package::kExpansionFolder) +
                   " in it was replaced after it was created.");
    RemoveExpansionDirectory();
    return Expansion::NotStarted;
  }
  // extrac32.exe opens the cabinet by name: a bound launcher has it expand a copy in the protected
  // directory, made while hashing, so that the bytes checked are the bytes expanded.
  std::string expandedCabinet = cabinetPath;
  if (binding.bound) {
    expandedCabinet = PrivateCabinetPath(expansionDirectory, platform::UniqueNumber());
    problem = CopyMatchingCabinet(heldCabinet, binding, expandedCabinet, &record->cabinetDigest);
    heldCabinet.Release();
  }
  // Before extrac32.exe writes anything: it writes a name that climbs out of the directory where
  // the name leads, and a path past MAX_PATH as far as it gets.
  if (problem.empty()) problem = ExpansionRefusal(expansionDirectory, expandedCabinet);
  if (!problem.empty()) {
    PrintErrorLine(problem);
    RemoveExpansionDirectory();
    return Expansion::NotStarted;
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
