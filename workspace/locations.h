#pragma once
#include <string>

// How every line about a temporary directory or an expansion directory the run cannot use begins.
extern const char kTemporaryDirectoryUnusable[];

// Resolves "temp" for the run: checks its value, opens the directory it names and takes that
// directory's final path and identity, kept in temporaryDirectory for every later use. Returns ""
// when the expansion directory may be created, filled and removed there; otherwise one line that
// says why the temporary directory is unusable ("temp" unset, empty, a device path, not absolute,
// holding characters that no path may hold, not to be spelled in the code page even by its short
// form, naming no directory, or so long, as given or once resolved, that a path formed in it would
// pass MAX_PATH). A run as SYSTEM whose "temp" is SYSTEM's default C:\Windows\Temp resolves to the
// folder GetTempPath2W names for SYSTEM instead, where the system has it.
std::string ResolveTemporaryDirectory();

// Asks the system, each time, for the directory of the launcher's executable and returns it as the
// system reports it (its short form where the code page cannot spell it), or "" when it has no
// spelling in the code page. The run keeps its answer in launcherDirectory.
std::string QueryLauncherDirectory();

// Returns "" when the launcher's own directory can be named in the ANSI code page (as it is, or
// by its short form); otherwise the line that says it cannot.
std::string LauncherDirectoryProblem();

// Returns the system directory followed by "\extrac32.exe", or "" without a system directory.
std::string ExtractionToolPath();

// Returns the short form of the package cabinet: the executable's path with "cab" after its last
// dot when that exists, else launcherDirectory + "\" + package::kSharedCabinet when that exists; "" when
// neither exists or the short form cannot be had. Directories count as found.
std::string FindPackageCabinet();

// Returns the short (8.3) form of an existing path, or "" when it cannot be had.
std::string ShortPathOf(const std::string& path);

// Returns path with the (at most three) characters after its last dot replaced by "cab", or ""
// when path holds no dot. The dot may stand in a folder's name ("C:\a.b\Setup" gives
// "C:\a.cabetup"): kept on purpose, as the launcher has always looked for its cabinet so.
std::string ReplaceExtensionWithCab(const std::string& path);
