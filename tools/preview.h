#pragma once
// A preview of one launcher run: the launcher's own code, run on the stand-in Windows with a
// package folder in place of the cabinet.

#include <optional>
#include <string>
#include <vector>

#include "platform/host_control.h"
#include "tools/stand_in.h"

// One start of the graphical installer, as the launcher asked for it.
struct InstallerStart {
  std::string program;                    // the path the launcher started
  std::optional<std::string> parameters;  // none: started without any parameter text
  std::string workingDirectory;
  bool inPackage = false;                    // false: the package has no such file, so nothing started
  std::string settingsPath;                  // the settings file this start points the installer at
  std::optional<std::string> settingsBytes;  // that file's bytes at the start; none when it is missing
};

// What a run did.
struct PreviewResult {
  std::vector<std::string> consoleLines;  // in the order printed, bytes in the ANSI code page
  std::string unfinishedOutput;           // printed without a line end or flush; normally ""
  bool waitedForEnter = false;            // the launcher read standard input ("Press ENTER to continue")
  int exitCode = 0;                       // the code the run returns, Windows Installer's under "/exitcodes:msi"
  int plainExitCode = 0;                  // the road's own code, 0, 1 or 10, that the run returns without it
  std::vector<InstallerStart> installers;
  bool expansionDirectoryLeft = false;     // the expansion directory still exists after the run
  std::vector<host::WrittenEvent> events;  // what the run wrote to the Application log
  std::string logPath;                     // with "/log": the log the run writes, "" without
  std::optional<std::string> log;          // what the run appended to it; none when nothing was
};

// Runs the launcher as setup.launcherPath with arguments (launcher options, in the ANSI code
// page) on the stand-in; its extrac32.exe expands the files below packageDirectory (links
// followed). Throws std::runtime_error
// when the package folder cannot be read or forms a link loop.
PreviewResult RunPreview(const StandInSetup& setup, const std::string& packageDirectory,
                         const std::vector<std::string>& arguments);

// Returns the preview as text for a person: the command line, the console lines, the exit code
// (under "/exitcodes:msi" with the road's own code after it), the log the run appends to, and each
// installer start with its build, parameters, working directory and the settings file's
// lines, each between "|" marks and followed by its line end, bytes other than printable ASCII as
// "<XX>". Bytes of the ANSI code page are left as they are.
std::string FormatPreview(const StandInSetup& setup, const std::vector<std::string>& arguments,
                          const PreviewResult& result);
