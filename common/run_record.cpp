#include "common/run_record.h"

#include <cstdio>

#include "common/exit_codes.h"

using platform::EventType;

// The event ids are documented for administrators' queries and dashboards: never renumber one.
const OutcomeFacts& FactsOf(Outcome outcome) {
  static const OutcomeFacts kHelp{kExitSuccess, EventType::Information, 0, "The help screen was shown."};
  static const OutcomeFacts kInstalled{kExitSuccess, EventType::Information, 1000, "The installer ran and ended."};
  static const OutcomeFacts kAnotherInstance{kExitAnotherInstance, EventType::Warning, 1001,
                                             "Another launcher is running; nothing was done."};
  static const OutcomeFacts kInvalid{kExitFailure, EventType::Error, 1002,
                                     "The command line held an argument that is no option."};
  static const OutcomeFacts kNotExpanded{kExitFailure, EventType::Error, 1003,
                                         "The package was not expanded; nothing was created or started."};
  static const OutcomeFacts kPortOptions{kExitFailure, EventType::Error, 1004,
                                         "The package takes its port from the command line, which lacked it."};
  static const OutcomeFacts kIncomplete{kExitFailure, EventType::Error, 1005,
                                        "The package was not expanded whole; the installer was not started."};
  static const OutcomeFacts kNoInstaller{kExitFailure, EventType::Error, 1006,
                                         "The package holds no installer for this machine."};
  static const OutcomeFacts kNotStarted{kExitFailure, EventType::Error, 1007, "The installer could not be started."};
  static const OutcomeFacts kCrashed{kExitFailure, EventType::Error, 1008, "The installer crashed."};
  static const OutcomeFacts kTimedOut{kExitFailure, EventType::Error, 1009,
                                      "The installer did not end within its time limit and was stopped."};
  static const OutcomeFacts kReplaced{
      kExitFailure, EventType::Error, 1010,
      "The expansion directory was replaced during the run; what stood in its place was left alone."};
  switch (outcome) {
    case Outcome::Help:
      return kHelp;
    case Outcome::Installed:
      return kInstalled;
    case Outcome::AnotherInstance:
      return kAnotherInstance;
    case Outcome::InvalidParameters:
      return kInvalid;
    case Outcome::NotExpanded:
      return kNotExpanded;
    case Outcome::PortOptionsMissing:
      return kPortOptions;
    case Outcome::ExpansionIncomplete:
      return kIncomplete;
    case Outcome::NoInstallerForMachine:
      return kNoInstaller;
    case Outcome::InstallerNotStarted:
      return kNotStarted;
    case Outcome::InstallerCrashed:
      return kCrashed;
    case Outcome::InstallerTimedOut:
      return kTimedOut;
    case Outcome::WorkspaceReplaced:
      return kReplaced;
  }
  return kHelp;
}

std::string ExitCodeHexadecimal(unsigned long exitCode) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", exitCode & 0xFFFFFFFFUL);
  return text;
}

std::string DurationText(unsigned long long milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03llu s", milliseconds / 1000, milliseconds % 1000);
  return text;
}

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace

std::string CabinetText(const RunRecord& record) {
  if (record.cabinetPath.empty()) return "none found";
  std::string text = record.cabinetPath;
  if (record.cabinetSize) text += ", " + std::to_string(*record.cabinetSize) + " bytes";
  if (!record.cabinetDigest.empty()) text += ", SHA-256 " + Hex(record.cabinetDigest);
  return text;
}

int ExitCodeOf(Outcome outcome, const RunRecord& record, bool msiExitCodes) {
  if (!msiExitCodes) return FactsOf(outcome).exitCode;
  switch (outcome) {
    case Outcome::Help:
      return kExitSuccess;
    case Outcome::Installed:
      // Passed on as it is: 3010 and 1641 ask for a restart, 1603 and 1618 are the installer's own.
      return static_cast<int>(record.installerExitCode.value_or(0) & 0xFFFFFFFFUL);
    case Outcome::AnotherInstance:
      return kMsiInstallInProgress;
    case Outcome::InvalidParameters:
    case Outcome::PortOptionsMissing:
      return kMsiInvalidCommandLine;
    case Outcome::NoInstallerForMachine:
      return kMsiPlatformNotSupported;
    default:
      return kMsiFatalError;
  }
}
