#pragma once
#include <string>

#include "common/run_record.h"

// What ExpandPackage did.
enum class Expansion {
  Done,        // the expansion directory was created afresh and extrac32.exe was run, whatever it achieved
  NotStarted,  // the tool, the cabinet or a usable temporary directory was missing; nothing was started
  InUse,       // another launcher works in the expansion directory; nothing was printed or touched
  Incomplete,  // extrac32.exe ran, but the expansion is not what the cabinet lists; record->failure says how
};

// Creates the expansion directory afresh and expands the package cabinet into it with
// extrac32.exe, printing its progress lines and the reason where the temporary directory is
// unusable, then checks the expansion against the cabinet's own list of files. Enters the
// temporary directory, the cabinet and the failure line, where there is one, in record.
Expansion ExpandPackage(RunRecord* record);

// Returns "" when every file that the cabinet at cabinetPath lists stands below expansionDirectory
// with the size the cabinet gives it; otherwise the line that says what is not so.
std::string ExpansionShortfall(const std::string& expansionDirectory, const std::string& cabinetPath);

// Returns the extraction tool's parameters: /Y /A /E /L "expansionDirectory" "cabinetPath".
std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath);
