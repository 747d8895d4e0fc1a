#pragma once
#include <string>

// Returns the graphical installer for this machine: the expansion directory followed by
// "\install\x64\InstallGui.exe" on 64-bit Windows, else "\install\x86\InstallGui.exe". Does not
// test that the file exists.
std::string GetInstallerPath();
