#include "launcher/run_sequence.h"

#include "common/console.h"
#include "common/process_state.h"
#include "common/run_record.h"
#include "installer/orchestration.h"
#include "launcher/help.h"
#include "launcher/instance_guard.h"
#include "launcher/options.h"
#include "launcher/run_event.h"
#include "platform/platform.h"
#include "workspace/cleanup.h"
#include "workspace/expansion.h"
#include "workspace/locations.h"

std::string LauncherFileName(const std::string& startedAs) {
  std::size_t lastBackslash = startedAs.rfind('\\');
  return lastBackslash == std::string::npos ? startedAs : startedAs.substr(lastBackslash + 1);
}

std::string DerivedCabinetName(const std::string& fileName) {
  std::string withCab = ReplaceExtensionWithCab(fileName);
  return withCab.empty() ? fileName + ".cab" : withCab;
}

namespace {

Outcome RefuseSecondCopy() {
  BringConsoleWindowToForeground();
  PrintLine("Error : Already another instance is running");
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
      return RefuseSecondCopy();
    case Expansion::NotStarted:
      ShowConsoleWindow(platform::kShowNormal);
      record->failure = "Unable to extract cab:  " + DerivedCabinetName(launcherFileName);
      PrintLine(record->failure);
      return Outcome::NotExpanded;
    case Expansion::Incomplete:
      ShowConsoleWindow(platform::kShowNormal);
      PrintLine(record->failure);
      CleanUpWorkspace(true);
      return Outcome::ExpansionIncomplete;
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
  launcherDirectory = LauncherDirectory();

  if (IsAnotherInstanceRunning(launcherFileName)) return RefuseSecondCopy();

  switch (ParseCommandLine(argc, argv)) {
    case RunResult::Run:
      return RunInstallRoad(launcherFileName, record);
    case RunResult::Help:
      ShowHelp(launcherFileName);
      return Outcome::Help;
    case RunResult::Invalid:
      break;
  }
  ShowConsoleWindow(platform::kShowNormal);
  PrintLine("Invalid Parameters.");
  ShowHelp(launcherFileName);
  return Outcome::InvalidParameters;
}

}  // namespace

int RunLauncher(int argc, const char* const* argv) {
  unsigned long long started = platform::Milliseconds();
  FetchConsoleWindow();
  ShowConsoleWindow(platform::kShowNormal);
  RunRecord record;
  Outcome outcome = RunRoads(argc, argv, &record);
  // Before any pause, which may last until somebody presses ENTER: the fleet reads the record.
  if (outcome != Outcome::Help) WriteRunEvent(outcome, record, platform::Milliseconds() - started);
  if (outcome == Outcome::PortOptionsMissing) BringConsoleWindowToForeground();
  if (outcome == Outcome::AnotherInstance || outcome == Outcome::PortOptionsMissing) WaitForEnter();
  return FactsOf(outcome).exitCode;
}
