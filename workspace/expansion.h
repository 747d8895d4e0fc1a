#pragma once
#include <string>

// What ExpandPackage did.
enum class Expansion {
  Done,        // the expansion directory was created afresh and extrac32.exe was run, whatever it achieved
  NotStarted,  // the tool, the cabinet or a usable temporary directory was missing; nothing was started
  InUse,       // another launcher works in the expansion directory; nothing was printed or touched
};

// Creates the expansion directory afresh and expands the package cabinet into it with
// extrac32.exe, printing its progress lines and the reason where the temporary directory is
// unusable.
Expansion ExpandPackage();

// Returns the extraction tool's parameters: /Y /A /E /L "expansionDirectory" "cabinetPath".
std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath);
