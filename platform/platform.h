#pragma once
// Every Windows operation the launcher uses, in the launcher's own terms. The Windows build
// implements them with the real Win32 calls (win32.cpp); the native build uses a stand-in whose
// answers the unit tests set (host.cpp, host_control.h).

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Window states, as ShowWindow and the shell take them.
constexpr int kHide = 0;
constexpr int kShowNormal = 1;
constexpr int kShow = 5;

// A window, or none.
struct WindowHandle {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// Returns the process's console window, or none when it has no console window.
WindowHandle ConsoleWindow();

// Calls ShowWindow on window with showCommand, also when it is none.
void ShowWindowAs(WindowHandle window, int showCommand);

// Brings window to the foreground.
void BringToForeground(WindowHandle window);

// Writes text to standard output without a line end and without flushing.
void WriteStandardOutput(const std::string& text);

// Flushes standard output.
void FlushStandardOutput();

// Reads one character from standard input; returns EOF at end of input.
int ReadStandardInputCharacter();

// Returns true when the launcher's window station is one a person sees (WSF_VISIBLE), false in
// session 0 or a network logon, where nobody can answer a prompt or close a message box. Answers
// true when the system cannot tell, which keeps the launcher's behaviour at a person's screen.
bool RunsWhereAPersonSees();

// A running process: its executable's file name and its identifier.
struct ProcessEntry {
  std::string name;
  unsigned long id = 0;
};

// Calls visit with each running process, the caller included, until visit returns false or the
// list ends. Returns false when the system gives no process snapshot.
bool VisitProcesses(const std::function<bool(const ProcessEntry&)>& visit);

// Returns true when the process runs elevated or as SYSTEM (S-1-5-18); false when it runs with a
// standard user's rights, and when it cannot be opened for a query or its token cannot be read.
bool RunsElevatedOrAsSystem(unsigned long processId);

// Returns true when the launcher itself runs as SYSTEM (S-1-5-18).
bool RunsAsSystem();

// What the ANSI code page, in which the launcher works, makes of a path that the system holds in
// full (as wide text).
struct AnsiSpelling {
  bool exact = true;      // the code page spells every character: the ANSI text is the path itself
  std::string shortForm;  // otherwise its short (8.3) form, spelled in the code page; "" when none
};

// Returns the full path of the running executable in the ANSI code page (its short form where
// the code page cannot spell it), or "" when the system cannot tell or no spelling fits.
std::string ExecutablePath();

// Spells the value of an environment variable that is set (name matched without regard to case).
AnsiSpelling SpellEnvironmentValue(const std::string& name);

// A directory as the system resolves it, links and junctions followed.
struct DirectoryIdentity {
  std::string finalPath;  // its final path ("\\?\" taken off) in the ANSI code page, its short form
                          // where the code page cannot spell it; "" when none fits
  std::string id;         // its volume's serial number and its file index: the same for every spelling
};

// Opens the directory at path and returns its final path and identity; an empty id when path
// names no directory or it cannot be opened.
DirectoryIdentity IdentifyDirectory(const std::string& path);

// A directory held open so that nobody can rename, replace or delete it until it is released.
struct HeldDirectory {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// Creates the directory at path new, with the security descriptor sddl, and holds it, in one call,
// so that no other directory can be taken for it. Returns none when anything of that name exists
// already, sddl is no descriptor or the directory cannot be created.
HeldDirectory CreateHeldDirectory(const std::string& path, const std::string& sddl);

// The owner and the accounts that the access-control entries of a directory name, as SID strings
// ("S-1-5-18"); an entry the launcher cannot read names "?".
struct DirectorySecurity {
  std::string owner;
  std::vector<std::string> entries;
  bool hasDacl = false;
};

// Opens the directory at path as itself (never a link's target), for its attributes and its
// descriptor only and without waiting for anyone's opportunistic lock, and asks trusted about its
// owner and DACL. Returns that same directory held when trusted says yes; none otherwise, and when
// path is no real directory or its security cannot be read.
HeldDirectory HoldTrustedDirectory(const std::string& path,
                                   const std::function<bool(const DirectorySecurity&)>& trusted);

// An entry that a removal left below the directory: its path below the directory, and why.
struct LeftEntry {
  std::string path;
  std::string reason;
};

// Removes a held directory with everything below it and releases it, never resolving its path
// again: each entry is opened relative to its parent's handle and marked for deletion through its
// own, a link or junction is removed as itself and never entered, and an entry that the open did
// not reach as itself (a link the system followed) is left. The hold lasts until nothing is left
// below the directory. Returns true when the directory is gone; does nothing for none. Each entry
// left is added to left when it is given; a folder that stays only for what it holds is not.
bool RemoveHeldDirectory(HeldDirectory directory, std::vector<LeftEntry>* left = nullptr);

// Returns the identity of a held directory, as IdentifyDirectory gives it; "" for none.
std::string HeldDirectoryIdentity(HeldDirectory directory);

// Releases a held directory, leaving it where it is; does nothing for none.
void ReleaseHeldDirectory(HeldDirectory directory);

// Returns true when a file-system object (file or directory) exists at path.
bool PathExists(const std::string& path);

// What a path names, as its attributes tell without following a link.
enum class PathKind { Missing, File, Directory, Link };

// Returns what path names; a junction or symbolic link (any reparse point) is a Link.
PathKind KindOf(const std::string& path);

// Returns the short (8.3) form of an existing path (the path itself on a volume without short
// names), or nothing when the path is missing or changed while its short form was read.
std::optional<std::string> ShortForm(const std::string& path);

// Returns the system directory (such as C:\Windows\system32), or "" when it cannot be had.
std::string SystemDirectory();

// Returns the folder that GetTempPath2W names for this process, without a trailing backslash: for
// SYSTEM C:\Windows\SystemTemp, which only SYSTEM and administrators may write. Returns "" on a
// Windows that lacks the call.
std::string TemporaryDirectoryOfTheSystem();

// Looks up an environment variable, its name matched without regard to case.
// Returns nothing when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& name);

// Renames a file, directory or link (never a link's target) without waiting for anyone's
// opportunistic lock on it; returns false when nothing was renamed, among others when newPath
// exists or someone holds such a lock.
bool RenamePath(const std::string& oldPath, const std::string& newPath);

// Returns a number that differs from run to run, for names that are merely new.
unsigned long UniqueNumber();

// Returns 64 bits from the system's random number generator, for names that nobody can foresee;
// nothing when the generator gives none.
std::optional<unsigned long long> RandomNumber();

// Takes the system-wide lock called name, created with the security descriptor sddl, and holds it
// until the process ends. Returns false when another process holds it or it cannot be taken.
bool HoldSystemWideLock(const std::string& name, const std::string& sddl);

// Opens a file with an fopen mode; returns null when it cannot be opened.
std::FILE* OpenStream(const std::string& path, const char* mode);

// Creates a new file and opens it for binary writing; returns null when anything of that name
// exists (a link included, which is never followed) or the file cannot be created.
std::FILE* CreateNewFile(const std::string& path);

// Replaces target by source in one step (target is never missing meanwhile); false on failure,
// in which case both files are left as they were.
bool ReplaceFileWith(const std::string& source, const std::string& target);

// Returns the size of the file at path, or nothing when it is no file or cannot be read.
std::optional<unsigned long long> FileSize(const std::string& path);

// Returns the size of the file relativeName below directory (in the ANSI code page), the name in
// UTF-8 when nameIsUtf8 and in the ANSI code page otherwise; nothing when there is no such file.
std::optional<unsigned long long> FileSizeBelow(const std::string& directory, const std::string& relativeName,
                                                bool nameIsUtf8);

// Deletes a file; returns false when it was not deleted.
bool RemoveFileAt(const std::string& path);

// A started process, or none.
struct ProcessHandle {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// A job that holds a started program and every process that program starts, or none.
struct JobHandle {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// What a start request gave: the new process, or none and the system's error code.
struct StartResult {
  ProcessHandle process;
  unsigned long processId = 0;
  unsigned long error = 0;
  JobHandle job;               // asked for: the job the process runs in; none when it could not be had
  unsigned long jobError = 0;  // why there is no job: the system's error code
};

// Starts file (a full path, never searched for) with the command line "file" and, when given, a
// blank and parameters, in workingDirectory and the window state showCommand. The process is
// created suspended; with inJob it is put into a new job, which every process it starts joins
// too, before it runs. A job that cannot be made or assigned (a Windows 7 whose launcher runs in
// a job of its own) leaves the process running outside any, with jobError set.
StartResult StartProgram(const std::string& file, const std::optional<std::string>& parameters,
                         const std::string& workingDirectory, int showCommand, bool inJob);

// Waits until the process has ended or milliseconds have passed; returns true when it has ended.
bool WaitForProcessEndWithin(ProcessHandle process, unsigned long long milliseconds);

// Blocks until the process has ended, without a time-out, releases the handle and returns the
// process's exit code.
unsigned long WaitForProcessEnd(ProcessHandle process);

// Releases the handle and returns the process's exit code (259, STILL_ACTIVE, while it runs).
unsigned long ReleaseProcess(ProcessHandle process);

// Ends every process in job with exitCode, then waits up to milliseconds until none is left;
// returns true when none is.
bool EndJob(JobHandle job, unsigned long exitCode, unsigned long long milliseconds);

// Ends the process alone with exitCode, then waits up to milliseconds for it; returns true when
// it has ended. What it started runs on.
bool EndProcess(ProcessHandle process, unsigned long exitCode, unsigned long long milliseconds);

// Releases a job, leaving whatever still runs in it running; does nothing for none.
void ReleaseJob(JobHandle job);

// Returns the system's text for an error code, inserts such as "%1" left as they stand and line
// ends kept, or "" when the system has none.
std::string SystemErrorText(unsigned long error);

// Pauses the launcher.
void SleepMilliseconds(unsigned milliseconds);

// Returns the bytes of the running launcher's RT_RCDATA resource of that name, "" when it has none.
std::string OwnResource(const char* name);

// A file held open for reading that nobody may write, rename or delete until it is released.
struct HeldFile {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// Opens path for reading and holds it; none when it cannot be opened or is held for writing.
HeldFile HoldFileForReading(const std::string& path);

// The bytes of a file from offset on: to its end, or length of them.
struct ByteRange {
  unsigned long long offset = 0;
  std::optional<unsigned long long> length;
};

// Returns the SHA-256 (32 bytes) of the held file's bytes in range, computed by the system's
// cryptography, or "" when they cannot be read whole (the file ends before the range does). With
// copyTo, creates that file new and writes the bytes to it as they are hashed, in the same pass; ""
// also when the copy cannot be created or written whole, and the copy is then removed.
std::string Sha256Of(HeldFile file, const std::optional<std::string>& copyTo = std::nullopt,
                     const ByteRange& range = {});

// Releases a held file; does nothing for none.
void ReleaseHeldFile(HeldFile file);

// Makes DLLs loaded by name come from the system directory only, never from the launcher's own
// directory or the working directory.
void RestrictDllSearchToSystemDirectory();

// Returns true when this 32-bit process runs on 64-bit Windows (under WOW64).
bool RunsUnderWow64();

// Returns the command line the launcher was started with, as the system holds it.
std::string CommandLine();

// Returns a count of milliseconds that only grows, for durations.
unsigned long long Milliseconds();

// The local time to the millisecond, with the minutes to add to it to reach UTC (CMTrace's bias:
// -60 in Berlin in winter, 300 in New York).
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int biasMinutes = 0;
};

// Returns the local time now.
LocalTime LocalTimeNow();

// Returns the account the launcher runs as, "DOMAIN\name" (such as NT AUTHORITY\SYSTEM); its SID
// string when the name cannot be looked up, "" when neither can be had.
std::string AccountName();

// Returns the launcher's process id.
unsigned long ProcessId();

// Returns the system's Windows directory (such as C:\Windows) as the system reports it, never from
// the environment; "" when it cannot be had.
std::string WindowsDirectory();

// A file opened for appending only: every write lands at its end, also beside another process's
// writes to the same file.
struct AppendFile {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// What opening a file for appending found.
enum class AppendOpening {
  Opened,  // the file itself, created with the descriptor when it was missing
  Link,    // a link, junction or hard link stands at path, or path led elsewhere: nothing was opened
  Failed,  // it could not be opened or created (a folder of that name, no access, no such folder)
};

// Opens the file at path (a full path) for appending, sharing reading, writing, renaming and
// deletion with others, and creates it with the descriptor sddl when it is missing. Never opens a
// link's target: a reparse point at path, a file with more than one name, or a path whose folders
// lead elsewhere than it names is Link.
AppendOpening OpenForAppending(const std::string& path, const std::string& sddl, AppendFile* file);

// Writes bytes at the file's end in one write; returns false when not all of them were written.
bool AppendTo(AppendFile file, const std::string& bytes);

// Closes the file; does nothing for none.
void CloseAppendFile(AppendFile file);

// The kinds of event the Application log knows.
enum class EventType { Information, Warning, Error };

// Writes one event to the Application event log from the event source called source, with its
// strings in the ANSI code page and the launcher's own account as its user, so that a reader can
// tell it from one written by another account under the same source. Returns false when it was
// not written.
bool WriteEvent(const std::string& source, EventType type, unsigned id, const std::vector<std::string>& strings);

}  // namespace platform
