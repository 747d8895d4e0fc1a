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

void SplitLauncherPath(const std::string& startedAs, std::string* directory, std::string* fileName) {
  std::size_t lastBackslash = startedAs.rfind('\\');
  if (lastBackslash != std::string::npos) {
    *directory = startedAs.substr(0, lastBackslash);
    *fileName = startedAs.substr(lastBackslash + 1);
    return;
  }
  // Started by a bare name: the package cabinet lies beside the executable, wherever that is.
  *fileName = startedAs;
  std::string executable = platform::ExecutablePath();
  std::size_t executableSlash = executable.rfind('\\');
  *directory = executableSlash == std::string::npos ? "" : executable.substr(0, executableSlash);
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
  std::string launcherFileName;
  SplitLauncherPath(argc > 0 && argv[0] != nullptr ? argv[0] : "", &launcherDirectory, &launcherFileName);
  // The narrow argv[0] holds "?" for what the code page cannot spell; the short form names the
  // same folder ("" when there is none: the expansion then says so). The file name, shown on the
  // help screen and in the messages, stays as started.
  platform::AnsiSpelling startDirectory = platform::SpellStartDirectory();
  if (!startDirectory.exact) launcherDirectory = startDirectory.shortForm;

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
