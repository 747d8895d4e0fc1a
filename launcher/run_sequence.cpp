#include "launcher/run_sequence.h"

#include "common/console.h"
#include "common/process_state.h"
#include "common/run_log.h"
#include "common/run_record.h"
#include "installer/orchestration.h"
#include "launcher/help.h"
#include "launcher/instance_guard.h"
#include "launcher/options.h"
#include "launcher/run_event.h"
#include "launcher_version.h"
#include "platform/platform.h"
#include "workspace/cleanup.h"
#include "workspace/expansion.h"
#include "workspace/locations.h"
#include "workspace/package_binding.h"

std::string LauncherFileName(const std::string& startedAs) {
  std::size_t lastBackslash = startedAs.rfind('\\');
  return lastBackslash == std::string::npos ? startedAs : startedAs.substr(lastBackslash + 1);
}

std::string DerivedCabinetName(const std::string& fileName) {
  std::string withCab = ReplaceExtensionWithCab(fileName);
  return withCab.empty() ? fileName + ".cab" : withCab;
}

namespace {

Outcome RefuseSecondCopy(RunRecord* record) {
  BringConsoleWindowToForeground();
  record->failure = "Error : Already another instance is running";
  PrintLine(record->failure);
  return Outcome::AnotherInstance;
}

Outcome RunInstallRoad(const std::string& launcherFileName, RunRecord* record) {
  ShowConsoleWindow(platform::kHide);
  switch (ExpandPackage(record)) {
    case Expansion::Done:
      break;
    case Expansion::InUse:
      // Another launcher, of whatever file name, works in the same expansion directory.
      ShowConsoleWindow(platform::kShowNormal);
      return RefuseSecondCopy(record);
    case Expansion::NotStarted:
      ShowConsoleWindow(platform::kShowNormal);
      record->failure = "Unable to extract cab:  " + DerivedCabinetName(launcherFileName);
      PrintErrorLine(record->failure);
      return Outcome::NotExpanded;
    case Expansion::Incomplete:
      ShowConsoleWindow(platform::kShowNormal);
      PrintErrorLine(record->failure);
      return EndWithCleanup(Outcome::ExpansionIncomplete, record);
  }
  Outcome outcome = RunInstall(record);
  // A failed port validation has already shown the window and cleaned up; it pauses below.
  if (outcome != Outcome::PortOptionsMissing) ShowConsoleWindow(platform::kShowNormal);
  return outcome;
}

Outcome RunRoads(int argc, const char* const* argv, RunRecord* record) {
  // The file name as started: the guard, the help screen and the messages use it. The directory is
  // the executable's own, absolute whatever working directory and relative path it was started
  // from, so that the cabinet found is the one beside it ("" when it has no spelling in the code
  // page: the expansion then says so).
  std::string launcherFileName = LauncherFileName(argc > 0 && argv[0] != nullptr ? argv[0] : "");
  launcherDirectory = QueryLauncherDirectory();

  if (IsAnotherInstanceRunning(launcherFileName)) return RefuseSecondCopy(record);

  std::string refusal;
  switch (ParseCommandLine(argc, argv, &refusal)) {
    case RunResult::Run:
      return RunInstallRoad(launcherFileName, record);
    case RunResult::Help:
      ShowHelp(launcherFileName);
      return Outcome::Help;
    case RunResult::Invalid:
      break;
  }
  ShowConsoleWindow(platform::kShowNormal);
  record->failure = "Invalid Parameters. " + refusal;
  PrintErrorLine("Invalid Parameters.");
  ShowHelp(launcherFileName);
  return Outcome::InvalidParameters;
}

// The executable's own file name, whatever argv[0] says: the default log is named after it.
std::string ExecutableFileName(const char* startedAs) {
  std::string path = platform::ExecutablePath();
  if (path.empty()) path = startedAs != nullptr ? startedAs : "";
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens the log the command line asks for, and enters who started what. Returns what the event says
// of the log: its path, or why it was not written; "" without "/log".
std::string StartRunLog(const char* startedAs) {
  if (!launchOptions.logPath) return "";
  std::string path = *launchOptions.logPath;
  if (path.empty()) path = DefaultLogPath(platform::WindowsDirectory(), ExecutableFileName(startedAs));
  if (path.empty()) return "none: the Windows directory is not known";
  std::string problem = OpenRunLog(path);
  if (!problem.empty()) return path + " was not written: " + problem;
  std::optional<std::string> temp = platform::EnvironmentValue("temp");
  LogInformation("Printer Package Launcher " LAUNCHER_VERSION_TEXT ", " + platform::ExecutablePath() + ", run by " +
                 platform::AccountName());
  LogInformation("Package: " + PackageIdentityText(ReadPackageBinding().identity));
  LogInformation("Command line: " + platform::CommandLine());
  LogInformation("TEMP as given: " + (temp ? *temp : std::string("not set")));
  return path;
}

// Enters how the run ended, as the event says it, as the log's last entries.
void LogRunEnd(Outcome outcome, const RunRecord& record, int exitCode) {
  const OutcomeFacts& facts = FactsOf(outcome);
  LogType type = facts.eventType == platform::EventType::Information ? LogType::Information
                 : facts.eventType == platform::EventType::Warning   ? LogType::Warning
                                                                     : LogType::Error;
  if (!record.failure.empty()) LogEntry(type, "Failure: " + record.failure, __builtin_FILE(), __builtin_LINE());
  std::string text = std::string("Outcome: ") + facts.words +
                     " Exit code: " + std::to_string(static_cast<unsigned long>(exitCode) & 0xFFFFFFFFUL);
  if (launchOptions.msiExitCodes) text += " (Windows Installer's codes)";
  LogEntry(type, text, __builtin_FILE(), __builtin_LINE());
}

}  // namespace

int RunLauncher(int argc, const char* const* argv, Outcome* ended) {
  unsigned long long started = platform::Milliseconds();
  FetchConsoleWindow();
  ShowConsoleWindow(platform::kShowNormal);
  // Before the guard: its answer, and an invalid argument's, follow the exit codes and the log asked for.
  ReadFleetOptions(argc, argv);
  RunRecord record;
  record.log = StartRunLog(argc > 0 ? argv[0] : nullptr);
  Outcome outcome = RunRoads(argc, argv, &record);
  int exitCode = ExitCodeOf(outcome, record, launchOptions.msiExitCodes);
  LogRunEnd(outcome, record, exitCode);
  // Before any pause, which may last until somebody presses ENTER: the fleet reads the record.
  if (outcome != Outcome::Help) WriteRunEvent(outcome, record, exitCode, platform::Milliseconds() - started);
  if (outcome == Outcome::PortOptionsMissing) BringConsoleWindowToForeground();
  if (outcome == Outcome::AnotherInstance || outcome == Outcome::PortOptionsMissing) WaitForEnter();
  CloseRunLog();
  if (ended != nullptr) *ended = outcome;
  return exitCode;
}
