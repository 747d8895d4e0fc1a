#include "workspace/process_runner.h"

#include "common/process_state.h"
#include "common/run_log.h"
#include "common/run_record.h"
#include "platform/platform.h"

namespace {

// Ending a process takes effect at once unless it is stuck in a driver's call: 30 s are plenty, and
// bound the wait for one that never goes.
constexpr unsigned long long kEndedWithinMilliseconds = 30000;

// What a program stopped at its time limit ends with: ERROR_TIMEOUT, "This operation returned because
// the timeout period expired."
constexpr unsigned long kStoppedExitCode = 1460;

// Ends what runs in the job, or the program alone without one, once it has outlived its limit.
void StopAtTimeLimit(const platform::StartResult& start, const std::string& file) {
  bool gone = start.job ? platform::EndJob(start.job, kStoppedExitCode, kEndedWithinMilliseconds)
                        : platform::EndProcess(start.process, kStoppedExitCode, kEndedWithinMilliseconds);
  if (gone) {
    LogWarning(start.job ? "Ended " + file + " and every process it started, at its time limit."
                         : "Ended " + file + " alone, at its time limit: what it started runs on.");
  } else {
    LogWarning("Ended " + file + " at its time limit, but after 30 s not all of its processes were gone.");
  }
}

}  // namespace

ProgramRun RunAndWait(const std::string& file, const std::optional<std::string>& parameters, int showCommand,
                      unsigned timeLimitMinutes) {
  bool limited = timeLimitMinutes > 0;
  unsigned long long begun = platform::Milliseconds();
  platform::StartResult start = platform::StartProgram(file, parameters, launcherDirectory, showCommand, limited);
  ProgramRun run;
  run.started = static_cast<bool>(start.process);
  if (!run.started) {
    run.failure = StartFailureText(platform::SystemErrorText(start.error), start.error, file);
    LogError("Unable to start " + file + ": " + run.failure);
    platform::SleepMilliseconds(2);
    return run;
  }
  run.processId = start.processId;
  LogInformation("Started " + file + (parameters ? " " + *parameters : std::string()) + " as process " +
                 std::to_string(start.processId) + (start.job ? ", in a job of its own." : "."));
  if (limited && !start.job) {
    LogWarning("No job could be made for it or it could not join one (system error " + std::to_string(start.jobError) +
               "): at its time limit only it is ended, not what it started.");
  }
  if (limited && !platform::WaitForProcessEndWithin(start.process, timeLimitMinutes * 60000ULL)) {
    run.stopped = true;
    StopAtTimeLimit(start, file);
    run.exitCode = platform::ReleaseProcess(start.process);
  } else {
    run.exitCode = platform::WaitForProcessEnd(start.process);
  }
  platform::ReleaseJob(start.job);
  run.milliseconds = platform::Milliseconds() - begun;
  LogInformation(file + " ended with exit code " + std::to_string(run.exitCode & 0xFFFFFFFFUL) + " (" +
                 ExitCodeHexadecimal(run.exitCode) + ") after " + DurationText(run.milliseconds) + ".");
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
