#include "workspace/process_runner.h"

#include "common/process_state.h"
#include "platform/platform.h"

ProgramRun RunAndWait(const std::string& file, const std::optional<std::string>& parameters, int showCommand) {
  // Where nobody sees the screen, the shell's message box for a failed start would wait forever.
  platform::StartResult start =
      platform::StartThroughShell(file, parameters, launcherDirectory, showCommand, platform::RunsWhereAPersonSees());
  ProgramRun run;
  run.started = static_cast<bool>(start.process);
  if (run.started) {
    run.exitCode = platform::WaitForProcessEnd(start.process);
  } else {
    run.failure = StartFailureText(platform::SystemErrorText(start.error), start.error, file);
  }
  platform::SleepMilliseconds(2);
  return run;
}

bool IsExceptionStatus(unsigned long exitCode) { return (exitCode & 0xFFFFFFFFUL) >= 0xC0000000UL; }

std::string StartFailureText(const std::string& systemText, unsigned long error, const std::string& file) {
  // A shell that hands the file to a running program (DDE) succeeds without a process to wait on.
  if (error == 0) return "the system started no process for it.";
  std::string text;
  for (std::size_t i = 0; i < systemText.size(); ++i) {
    if (systemText.compare(i, 2, "%1") == 0) {
      text += file;
      ++i;
    } else if (systemText[i] == '\r' || systemText[i] == '\n') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += systemText[i];
    }
  }
  std::size_t first = text.find_first_not_of(' ');
  std::size_t last = text.find_last_not_of(' ');
  if (first == std::string::npos) return "error " + std::to_string(error) + ".";
  return text.substr(first, last - first + 1);
}
