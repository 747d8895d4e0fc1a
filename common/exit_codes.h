#pragma once

// The launcher's exit codes, which deployment scripts test.
enum ExitCode : int {
  kExitSuccess = 0,          // the install run went through, or the help was asked for
  kExitAnotherInstance = 1,  // another copy of the launcher is running
  kExitFailure = 10,         // the run failed: nothing installed (invalid parameters, package not expanded
                             // or not whole, port options missing, installer not started or crashed)
};
