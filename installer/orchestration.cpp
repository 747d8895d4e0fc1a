#include "installer/orchestration.h"

#include <optional>
#include <vector>

#include "common/console.h"
#include "common/package_layout.h"
#include "common/process_state.h"
#include "installer/selection.h"
#include "platform/platform.h"
#include "settings/port_mode.h"
#include "settings/port_rewrite.h"
#include "settings/reader.h"
#include "workspace/cleanup.h"
#include "workspace/expansion_directory.h"
#include "workspace/locations.h"
#include "workspace/process_runner.h"

namespace {

enum class PortStep {
  NotAsked,        // the package does not take its port from the command line
  Entered,         // the settings file now names the command line's port
  LeftUnchanged,   // the rewrite failed and said so; the file is as the package made it
  OptionsMissing,  // the command line lacks what the package needs; the run stops
};

// Shows where the user sees it which of the options a package that takes its port from the command
// line did not get; the record's failure holds the same lines, the two halves of the first joined.
void ReportMissingPortOptions(const LaunchOptions& options, RunRecord* record) {
  ShowConsoleWindow(platform::kShowNormal);
  std::vector<std::string> lines = {"Error - package is configured for port and address or hostname on cmd line, but",
                                    "these params were not found"};
  if (!options.portGiven) lines.emplace_back("/port: parameter not found or no value was specified");
  if (!options.addressGiven) lines.emplace_back("/address: parameter not found or no value was specified");
  record->failure = lines[0] + " " + lines[1];
  for (std::size_t i = 0; i < lines.size(); ++i) {
    PrintErrorLine(lines[i]);
    if (i >= 2) record->failure += "; " + lines[i];
  }
}

// Enters the command line's port into a package that takes it from there. The settings file is
// read once to learn whether it does.
PortStep ApplyPortStep(const LaunchOptions& options, RunRecord* record) {
  if (!IsPortOnCommandLineMode()) return PortStep::NotAsked;
  if (!PortOptionsSuffice(options)) {
    ReportMissingPortOptions(options, record);
    return PortStep::OptionsMissing;
  }
  return RewritePortConfiguration(options.portName, options.printerAddress, options.portIsNetworkShare)
             ? PortStep::Entered
             : PortStep::LeftUnchanged;
}

// Only missing options stop the run. A failed rewrite does not: the installer then gets the
// settings file as the package made it, as it always has.
bool StopsAtPortStep(RunRecord* record) { return ApplyPortStep(launchOptions, record) == PortStep::OptionsMissing; }

Outcome StopForMissingPortOptions(RunRecord* record) { return EndWithCleanup(Outcome::PortOptionsMissing, record); }

// Says what went wrong where the user sees it, and removes the expansion directory.
Outcome Fail(Outcome outcome, const std::string& line, RunRecord* record) {
  ShowConsoleWindow(platform::kShowNormal);
  PrintErrorLine(line);
  record->failure = line;
  return EndWithCleanup(outcome, record);
}

// The line for an installer stopped at its time limit: "... within 60 minutes ...", "1 minute".
std::string TimeLimitLine(unsigned minutes) {
  return "The installer did not end within " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes") +
         " and was stopped.";
}

// Starts the installer, waits for it and cleans up; a start the system refused and a crash fail
// the run, any exit code of its own does not: packages give their numbers their own meanings.
Outcome StartInstaller(const std::optional<std::string>& parameters, RunRecord* record) {
  record->installerPath = GetInstallerPath();
  record->installerParameters = parameters;
  // Right before the start: the installer runs elevated from the directory the run filled.
  if (!IsTheHeldExpansionDirectory(ExpansionDirectory())) {
    return Fail(Outcome::InstallerNotStarted,
                std::string("Unable to start the installer: ") + package::kExpansionFolder +
                    " is no longer the directory this run created.",
                record);
  }
  ProgramRun run = RunAndWait(record->installerPath, parameters, platform::kShowNormal, launchOptions.timeLimitMinutes);
  if (!run.started) return Fail(Outcome::InstallerNotStarted, "Unable to start the installer: " + run.failure, record);
  if (run.stopped) return Fail(Outcome::InstallerTimedOut, TimeLimitLine(launchOptions.timeLimitMinutes), record);
  record->installerExitCode = run.exitCode;
  if (IsExceptionStatus(run.exitCode)) {
    return Fail(Outcome::InstallerCrashed,
                "The installer crashed with the exception " + ExitCodeHexadecimal(run.exitCode) + ".", record);
  }
  return EndWithCleanup(Outcome::Installed, record);
}

}  // namespace

bool RequestsStandaloneRun(const std::string& settingsFilePath) {
  for (const char* key : package::kStandaloneKeys) {
    if (SettingsFileHasLine(key, settingsFilePath)) return true;
  }
  return false;
}

Outcome RunStandaloneInstall(RunRecord* record) {
  PrintLine("Running Install...");
  // The standalone run repeats the port step on purpose, as the launcher always has. The rewrite
  // before the decision has normally replaced "Port=CmdLine", so the repeat only acts when the port
  // name itself is "CmdLine" (entered a second time), or when that rewrite failed.
  if (StopsAtPortStep(record)) return StopForMissingPortOptions(record);
  std::optional<std::string> parameters;
  if (launchOptions.languageGiven) parameters = launchOptions.languageCode;
  return StartInstaller(parameters, record);
}

Outcome RunInstall(RunRecord* record) {
  // A package without this machine's build would start nothing: the run has failed.
  std::string installerPath = GetInstallerPath();
  if (platform::KindOf(installerPath) != platform::PathKind::File) {
    std::string relative = installerPath.substr(ExpansionDirectory().size() + 1);
    return Fail(Outcome::NoInstallerForMachine,
                std::string("Unable to install: the package holds no installer for ") +
                    (platform::RunsUnderWow64() ? "64-bit" : "32-bit") + " Windows (" + relative + ").",
                record);
  }
  const std::string settingsFilePath = SettingsFilePath();
  if (StopsAtPortStep(record)) return StopForMissingPortOptions(record);
  if (RequestsStandaloneRun(settingsFilePath)) return RunStandaloneInstall(record);

  PrintLine("Running Install...");
  // Unquoted, blanks included: the installer takes all that follows "/I:" as the path.
  return StartInstaller("/I:" + settingsFilePath, record);
}
