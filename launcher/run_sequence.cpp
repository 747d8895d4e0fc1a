#include "launcher/run_sequence.h"

#include "common/console.h"
#include "common/exit_codes.h"
#include "common/process_state.h"
#include "installer/orchestration.h"
#include "launcher/help.h"
#include "launcher/instance_guard.h"
#include "launcher/options.h"
#include "platform/platform.h"
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

int RefuseSecondCopy() {
  BringConsoleWindowToForeground();
  PrintLine("Error : Already another instance is running");
  WaitForEnter();
  return kExitAnotherInstance;
}

int RunInstallRoad(const std::string& launcherFileName) {
  ShowConsoleWindow(platform::kHide);
  switch (ExpandPackage()) {
    case Expansion::Done:
      break;
    case Expansion::InUse:
      // Another launcher, of whatever file name, works in the same expansion directory.
      ShowConsoleWindow(platform::kShowNormal);
      return RefuseSecondCopy();
    case Expansion::NotStarted:
      ShowConsoleWindow(platform::kShowNormal);
      PrintLine("Unable to extract cab:  " + DerivedCabinetName(launcherFileName));
      return kExitFailure;
  }
  // A failed port validation has already shown the window, cleaned up and paused.
  if (!RunInstall()) return kExitFailure;
  ShowConsoleWindow(platform::kShowNormal);
  return kExitSuccess;
}

}  // namespace

int RunLauncher(int argc, const char* const* argv) {
  FetchConsoleWindow();
  ShowConsoleWindow(platform::kShowNormal);
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
      return RunInstallRoad(launcherFileName);
    case RunResult::Help:
      ShowHelp(launcherFileName);
      return kExitSuccess;
    case RunResult::Invalid:
      break;
  }
  ShowConsoleWindow(platform::kShowNormal);
  PrintLine("Invalid Parameters.");
  ShowHelp(launcherFileName);
  return kExitFailure;
}
