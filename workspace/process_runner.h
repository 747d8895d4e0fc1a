#pragma once
#include <optional>
#include <string>

// How a program that the launcher asked for ended.
struct ProgramRun {
  bool started = false;
  std::string failure;         // when it did not start: the system's reason, on one line
  unsigned long exitCode = 0;  // when it started: its exit code
  unsigned long processId = 0;
  unsigned long long milliseconds = 0;  // from its start to its end
  bool stopped = false;                 // it outlived its time limit and the launcher ended it
};

// Starts file (a full path) with parameters (none: nothing at all, not an empty text) in
// launcherDirectory and the window state showCommand, waits until it has ended when it started,
// then pauses 2 ms; enters the start and the end in the log. Without a time limit (0) it waits as
// long as the program runs. With one, in minutes, the program runs in a job with every process it
// starts; when it has not ended by then, the launcher ends them all (the program alone when no job
// could be had, which the log says), waits a bounded time until they are gone, and returns with
// stopped set.
ProgramRun RunAndWait(const std::string& file, const std::optional<std::string>& parameters, int showCommand,
                      unsigned timeLimitMinutes = 0);

// Returns true when exitCode is an exception status (0xC0000000 and above, such as 0xC0000005 for
// an access violation): the program did not end by itself but crashed.
bool IsExceptionStatus(unsigned long exitCode);

// Returns the line that says why file did not start: the system's text for error with "%1" naming
// file and its line ends folded, "error N" where the system has no text, and "the system started no
// process for it" for a request that succeeded without a process (error 0).
std::string StartFailureText(const std::string& systemText, unsigned long error, const std::string& file);
