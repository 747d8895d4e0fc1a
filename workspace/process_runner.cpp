#include "workspace/process_runner.h"

#include "common/process_state.h"
#include "platform/platform.h"

void RunAndWait(const std::string& file, const std::optional<std::string>& parameters, int showCommand) {
  // Where nobody sees the screen, the shell's message box for a failed start would wait forever.
  platform::ProcessHandle process =
      platform::StartThroughShell(file, parameters, launcherDirectory, showCommand, platform::RunsWhereAPersonSees());
  if (process) platform::WaitForProcessEnd(process);
  platform::SleepMilliseconds(2);
}
