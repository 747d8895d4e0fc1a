#pragma once
#include <string>

// Creates the expansion directory and expands the package cabinet into it with extrac32.exe,
// printing its progress lines. Returns true once the tool was run, whatever it achieved; false,
// with nothing created, when the tool, the cabinet or a usable temporary directory is missing.
bool ExpandPackage();

// Returns the extraction tool's parameters: /Y /A /E /L "expansionDirectory" "cabinetPath".
std::string ExtractionParameters(const std::string& expansionDirectory, const std::string& cabinetPath);
