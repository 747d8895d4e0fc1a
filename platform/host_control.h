#pragma once
// Steering and records of the native stand-in for the Windows platform (host.cpp). The unit tests
// and the package tools' preview include this header.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace host {

struct StartedProgram {
  std::string file;
  std::optional<std::string> parameters;
  std::string workingDirectory;
  int showCommand = -1;
  bool inJob = false;  // a job was asked for, so that every process it starts can be ended with it
};

// Forgets every answer, failure and record; Windows paths "X:\..." then map to root + "/X/...".
void Reset(const std::string& root);

// Forgets the records (events, output, started programs) and keeps the answers.
void ClearRecords();

// Maps a Windows path to the host file it stands for.
std::string HostPath(const std::string& windowsPath);

// With ignore set, a part of a mapped path that does not exist as written stands for an entry of
// its folder that differs only in the letter case of A to Z, as Windows finds files. Off by Reset.
void SetFileNamesIgnoreCase(bool ignore);

// A running process as the stand-in lists it.
struct HostProcess {
  std::string name;
  bool elevated = true;  // runs elevated or as SYSTEM; false: a standard user's program
};

// Answers. The process list, each process elevated unless set otherwise.
void SetProcessNames(const std::vector<std::string>& names);
void SetProcesses(const std::vector<HostProcess>& processes);
// Whether the launcher runs as SYSTEM (not by default), the Windows directory (C:\Windows by
// default), and the folder GetTempPath2W names ("" by default: a Windows without the call).
void SetRunsAsSystem(bool system);
void SetWindowsDirectory(const std::string& path);
void SetTemporaryDirectoryOfTheSystem(const std::string& path);
// The system's random number, or none when its generator fails.
void SetRandomNumber(std::optional<unsigned long long> number);
void SetProcessSnapshotAvailable(bool available);
void SetConsoleWindow(bool present);
// Whether the window station is one a person sees (true by default).
void SetPersonSees(bool sees);
void SetExecutablePath(const std::string& path);
// Spellings in the ANSI code page (exact unless set) of an environment variable's value.
void SetEnvironmentSpelling(const std::string& name, const platform::AnsiSpelling& spelling);
void SetSystemDirectory(const std::string& path);
void SetShortPath(const std::string& longPath, const std::string& shortPath);
void SetShortPathsAvailable(bool available);
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);
void SetWow64(bool underWow64);
void SetStandardInput(const std::string& text);

// Security: the account the launcher runs as (Wine's user by default), and the owner and entries
// a directory reads back with. Otherwise a directory reads back as Wine reads mode bits: the
// account and Everyone when others may enter it, SYSTEM and the account when not (mode 0700, as
// the launcher's directories are made).
void SetCurrentAccount(const std::string& sid);
void SetDirectorySecurity(const std::string& path, const platform::DirectorySecurity& security);

// Makes the system-wide lock of that name taken by another process.
void HoldLockElsewhere(const std::string& name);

// The launcher's RT_RCDATA resource of that name (none by default).
void SetOwnResource(const std::string& name, const std::string& bytes);

// The number behind names that are merely new.
void SetUniqueNumber(unsigned long number);

// The command line the launcher reads as its own, and the milliseconds its clock shows.
void SetCommandLine(const std::string& commandLine);
void SetMilliseconds(unsigned long long milliseconds);

// The local time, the account's name and the process id the launcher reads (14:07:09.042 on 5 March
// 2024 in Berlin's winter, NT AUTHORITY\SYSTEM and 4242).
void SetLocalTime(const platform::LocalTime& time);
void SetAccountName(const std::string& name);
void SetProcessId(unsigned long id);

// The exit code that programs whose path ends with pathSuffix end with (0 unless set).
void SetExitCode(const std::string& pathSuffix, unsigned long exitCode);

// Makes the start of programs whose path ends with pathSuffix fail with a system error code; 0
// stands for a request that succeeds but gives no process.
void FailStarting(const std::string& pathSuffix, unsigned long error);

// Makes programs whose path ends with pathSuffix run until the launcher ends them.
void RunForever(const std::string& pathSuffix);

// Makes every job fail to be made or assigned with a system error code, as on a Windows 7 whose
// launcher already runs in a job.
void FailJobs(unsigned long error);

// An event written to the Application log.
struct WrittenEvent {
  std::string source;
  platform::EventType type = platform::EventType::Information;
  unsigned id = 0;
  std::vector<std::string> strings;
  std::string user;  // the SID of the account it was written as
};

// Makes every event write fail, as when the event log service is stopped.
void FailWritingEvents();

// Called with every program the launcher starts, before the launcher waits for it; lets a test
// stand in for the program's effect on disk.
void OnProgramStart(std::function<void(const StartedProgram&)> effect);

// Injected failures, each for the files whose Windows path ends with pathSuffix.
void FailOpening(const std::string& pathSuffix);
void FailReadingAfter(const std::string& pathSuffix, std::size_t bytes);
void FailWritingAfter(const std::string& pathSuffix, std::size_t bytes);
void FailReplacing();
void FailRenaming();
// Makes a removal through a held directory leave the file or folder at path, as one that somebody
// holds open without delete sharing.
void KeepOnRemoval(const std::string& path);

// Called with the path just before a directory is created: lets a test race the creation.
void BeforeCreatingDirectory(std::function<void(const std::string&)> effect);

// Records. Events are, in order: "line:TEXT" for each flushed line of standard output,
// "console-window" for each fetch of the console window, "window:N" for each ShowWindow
// ("window-none:N" on no window), "foreground" ("foreground-none"), "processes-read:N" for each
// walk of the process list, "start:FILE", "job" for a start in a job, "wait" (without a limit),
// "wait-within:MS", "end-job:CODE within MS", "end-process:CODE within MS", "release-job", "read-input",
// "open-read:PATH", "open-write:PATH", "create-new:PATH",
// "create-append:PATH SDDL" and "open-append:PATH" for a file opened for appending, "mkdir:PATH SDDL", "rename:OLD ->
// NEW", "lock:NAME SDDL", "dll-search:system", "hold:PATH", "release", "hold-directory:PATH",
// "release-directory:PATH", "remove-link:NAME" for each link removed as itself, "remove-held:PATH"
// for each held directory removed (PATH where it was held), "sleep:MS" and "event:ID".
const std::vector<std::string>& Events();
const std::vector<WrittenEvent>& WrittenEvents();
std::vector<std::string> PrintedLines();
std::string UnflushedOutput();
const std::vector<StartedProgram>& StartedPrograms();

}  // namespace host
