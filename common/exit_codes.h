#pragma once

// The launcher's exit codes, which deployment scripts test.
enum ExitCode : int {
  kExitSuccess = 0,          // the install run went through, or the help was asked for
  kExitAnotherInstance = 1,  // another copy of the launcher is running
  kExitFailure = 10,         // the run failed: nothing installed (invalid parameters, package not expanded
                             // or not whole, port options missing, installer not started, crashed or
                             // stopped at its time limit), or the expansion directory was replaced during
                             // the run
};

// Windows Installer's codes, which a run ends with under "/exitcodes:msi", where fleet tools act on
// them: another installation in progress is retried, an invalid command line and an unsupported
// platform are not.
enum MsiExitCode : int {
  kMsiFatalError = 1603,            // every road that installed nothing and has no code of its own
  kMsiInstallInProgress = 1618,     // another copy runs, or another launcher works in TEMP
  kMsiPlatformNotSupported = 1633,  // the package holds no installer for this machine
  kMsiInvalidCommandLine = 1639,    // an argument that is no option, or the port options missing
};
