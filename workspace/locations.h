#pragma once
#include <string>

// Returns the value of "temp" (name matched without regard to case) followed by
// "\TempExpandedFiles", or "" when "temp" is not set. Where the ANSI code page cannot spell the
// value, its short (8.3) form stands in its place.
std::string ExpansionDirectory();

// Returns "" when the expansion directory may be created, filled and removed; otherwise one line
// that says why the temporary directory is unusable ("temp" unset, empty, not absolute, holding
// characters that no path may hold, not to be spelled in the code page even by its short form, or
// so long that a path formed in it would pass MAX_PATH).
std::string TemporaryDirectoryProblem();

// Returns "" when the directory the launcher was started from can be named in the ANSI code page
// (as it is, or by its short form); otherwise the line that says it cannot.
std::string LauncherDirectoryProblem();

// Returns the system directory followed by "\extrac32.exe", or "" without a system directory.
std::string ExtractionToolPath();

// Returns the system directory followed by "\cmd.exe", or "C:\windows\system32\cmd.exe" without
// a system directory.
std::string CommandInterpreterPath();

// Returns the short form of the package cabinet: the executable's path with "cab" after its last
// dot when that exists, else launcherDirectory + "\InstallFiles.cab" when that exists; "" when
// neither exists or the short form cannot be had. Directories count as found.
std::string FindPackageCabinet();

// Returns the short (8.3) form of an existing path, or "" when it cannot be had.
std::string ShortPathOf(const std::string& path);

// Returns path with the (at most three) characters after its last dot replaced by "cab", or ""
// when path holds no dot.
std::string ReplaceExtensionWithCab(const std::string& path);
