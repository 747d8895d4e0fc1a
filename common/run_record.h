#pragma once
// How a run ended and what it did, for the one event it writes to the Application log.

#include <optional>
#include <string>

#include "platform/platform.h"

// The ways a run ends. Each has its exit code, its event and its words (OutcomeFacts).
enum class Outcome {
  Help,                   // "/?": the help screen; writes no event
  Installed,              // the installer ran and ended normally, whatever number it returned
  AnotherInstance,        // another copy of the launcher runs, or another launcher works in TEMP
  InvalidParameters,      // an argument was no option
  NotExpanded,            // the expansion was not started: nothing was created
  PortOptionsMissing,     // the package takes its port from the command line, which lacks it
  ExpansionIncomplete,    // a file that the cabinet lists is missing or short after the expansion
  NoInstallerForMachine,  // the package holds no installer build for this machine
  InstallerNotStarted,    // the system refused to start the installer
  InstallerCrashed,       // the installer ended with an exception status
  InstallerTimedOut,      // the installer outlived "/timeout:" and was stopped with all it started
  WorkspaceReplaced,      // the cleanup found the expansion directory's path naming another directory
};

struct OutcomeFacts {
  int exitCode;
  platform::EventType eventType;
  unsigned eventId;
  const char* words;  // what happened, as the event says it
};

// Returns the exit code, event type, event id and words of an outcome.
const OutcomeFacts& FactsOf(Outcome outcome);

// Returns an exit code as "0x" and eight hexadecimal digits, as Windows shows status codes.
std::string ExitCodeHexadecimal(unsigned long exitCode);

// Returns a duration as seconds with three decimals: "61.234 s".
std::string DurationText(unsigned long long milliseconds);

// What the run found and started; filled as the run goes, empty where it did not get so far.
struct RunRecord {
  std::string failure;  // the line that said what went wrong, when the launcher printed one
  std::string temporaryDirectory;
  std::string cabinetPath;
  std::optional<unsigned long long> cabinetSize;
  std::string cabinetDigest;  // the SHA-256 (32 bytes) that a bound launcher checked
  std::string installerPath;  // the installer the launcher started, or tried to
  std::optional<std::string> installerParameters;
  std::optional<unsigned long> installerExitCode;  // when it started and ended
  std::string log;                                 // with "/log": the log's path, or why none was written; "" without
};

// Returns the cabinet as the record knows it: its path, size and, when bound, SHA-256 ("C:\pkg\Setup.cab,
// 52 bytes, SHA-256 ab12..."), or "none found".
std::string CabinetText(const RunRecord& record);

// Returns the exit code a run that ended so returns: FactsOf's, or with msiExitCodes Windows
// Installer's: the installer's own exit code when it ended by itself, 0 for the help, 1618 for
// another copy, 1639 for an invalid argument or missing port options, 1633 without the installer
// for this machine, and 1603 for every other road, those added later included.
int ExitCodeOf(Outcome outcome, const RunRecord& record, bool msiExitCodes);
