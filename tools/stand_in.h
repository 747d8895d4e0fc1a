#pragma once
// A stand-in Windows in a scratch directory, on which the package tools run the launcher's own
// code through the host platform: "C:\..." lives below the scratch directory, and file names are
// found without regard to letter case, as Windows finds them.

#include <string>
#include <vector>

#include "platform/host_control.h"
#include "workspace/package_binding.h"

// The machine a preview or a unit test stands for.
struct StandInSetup {
  std::string temp = "C:\\Windows\\Temp";  // the launcher's "temp"; a deployment tool's SYSTEM account has this one
  std::string launcherPath = "C:\\pkg\\Setup.exe";  // argv[0] and the executable's own path
  bool windows64 = true;                            // 64-bit Windows, where the 32-bit launcher runs under WOW64
  bool personSees = false;          // a person sees the session; a deployment tool's SYSTEM run in session 0 has none
  bool consoleWindow = false;       // the process has a console window; a deployment tool's pipe gives none
  bool fileNamesIgnoreCase = true;  // names are found as Windows finds them, without regard to letter case
  PackageIdentity package;          // the package the launcher names (as the package tool writes it); none by default
};

// Holds the host platform on a fresh scratch directory for as long as it lives.
class StandInWindows {
 public:
  // Resets the host platform: TEMP set, the system directory with extrac32.exe, the
  // launcher's file at its path, only the launcher itself running, standard input at its end, no
  // options and no directories resolved. The programs started have no effect until one is set.
  explicit StandInWindows(const StandInSetup& setup);

  // Removes the scratch directory and all below it.
  ~StandInWindows();

  StandInWindows(const StandInWindows&) = delete;
  StandInWindows& operator=(const StandInWindows&) = delete;

  // Writes bytes to the file at a Windows path, creating its folders.
  void WriteFile(const std::string& windowsPath, const std::string& bytes);

 private:
  std::string root_;
};

// Returns true when path is a Windows path on a drive ("C:\..."), the only kind the stand-in keeps
// inside its scratch directory.
bool IsDrivePath(const std::string& path);

// Returns true when the program started is the one named name ("extrac32.exe"), in any letter case.
bool IsProgram(const host::StartedProgram& program, const std::string& name);

// Returns the texts between pairs of double quotes in parameters, in order: the paths in the
// parameters the launcher gives extrac32.exe.
std::vector<std::string> QuotedTexts(const std::string& parameters);
