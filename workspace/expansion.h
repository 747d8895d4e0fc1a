#pragma once
#include <string>

#include "common/run_record.h"
#include "workspace/cabinet_listing.h"

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

// Returns "" when the cabinet at cabinetPath may be expanded into expansionDirectory: its table can
// be read, no name it lists leads out of the directory, and the longest path it makes there has at
// most 259 characters. Otherwise the line that says why not.
std::string ExpansionRefusal(const std::string& expansionDirectory, const std::string& cabinetPath);

// Returns true when a name that a cabinet lists would lead out of the directory it is expanded
// into: it starts with "\" or "/", holds a ":" (a drive, a stream), or has a part made of dots and
// blanks only ("..", ".. ", ".", or nothing between two separators).
bool LeadsOutOfTheDirectory(const std::string& name);

// Returns the characters a listed name takes in a Windows path: its bytes for a name in the ANSI
// code page, its UTF-16 units for a UTF-8 name.
std::size_t PathCharacters(const CabinetFile& file);

// Returns the extraction tool's parameters: /Y /A /E /L "expansionDirectory" "cabinetPath".
std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath);
