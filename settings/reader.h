#pragma once
#include <string>

// Returns the component settings file's path: the expansion directory followed by
// "\install\component.isf".
std::string SettingsFilePath();

// Returns true when some line of the file at path equals key exactly (bytes, letter case and
// blanks included); false for an empty key, a file that cannot be opened, or no such line.
bool SettingsFileHasLine(const std::string& key, const std::string& path);
