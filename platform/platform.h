#pragma once
// Every Windows operation the launcher uses, in the launcher's own terms. The Windows build
// implements them with the real Win32 calls (win32.cpp); the native build uses a stand-in whose
// answers the unit tests set (host.cpp, host_control.h).

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Window states, as ShowWindow and the shell take them.
constexpr int kHide = 0;
constexpr int kShowNormal = 1;
constexpr int kShow = 5;

// Calls ShowWindow on the console window with showCommand, also when the process has none.
void ShowConsoleWindow(int showCommand);

// Brings the console window to the foreground; does nothing when the process has none.
void BringConsoleWindowToForeground();

// Writes text to standard output without a line end and without flushing.
void WriteStandardOutput(const std::string& text);

// Flushes standard output.
void FlushStandardOutput();

// Reads one character from standard input; returns EOF at end of input.
int ReadStandardInputCharacter();

// Fills names with the executable file name of every running process, the caller included.
// Returns false when the system gives no process snapshot.
bool ListProcessNames(std::vector<std::string>* names);

// Returns the full path of the running executable, or "" when the system cannot tell.
std::string ExecutablePath();

// Returns true when a file-system object (file or directory) exists at path.
bool PathExists(const std::string& path);

// Returns true when path exists and is a junction or symbolic link (a reparse point).
bool IsLinkOrJunction(const std::string& path);

// Mirrors GetShortPathNameA: with a buffer large enough, writes the short form and returns its
// length; otherwise returns the size needed, terminating zero included; returns 0 on failure.
unsigned long ShortPathName(const std::string& path, char* buffer, unsigned long size);

// Returns the system directory (such as C:\Windows\system32), or "" when it cannot be had.
std::string SystemDirectory();

// Looks up an environment variable, its name matched without regard to case.
// Returns nothing when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& name);

// Creates one directory whose parent exists; returns false when it was not created.
bool MakeDirectory(const std::string& path);

// Opens a file with an fopen mode; returns null when it cannot be opened.
std::FILE* OpenStream(const std::string& path, const char* mode);

// Replaces target by source in one step (target is never missing meanwhile); false on failure,
// in which case both files are left as they were.
bool ReplaceFileWith(const std::string& source, const std::string& target);

// Deletes a file; returns false when it was not deleted.
bool RemoveFileAt(const std::string& path);

// A started process, or none.
struct ProcessHandle {
  void* value = nullptr;
  explicit operator bool() const { return value != nullptr; }
};

// Hands file to the shell with the default verb, parameters (none: null), workingDirectory and
// showCommand. Returns the new process, or none when no process was started.
ProcessHandle StartThroughShell(const std::string& file, const std::optional<std::string>& parameters,
                                const std::string& workingDirectory, int showCommand);

// Blocks until the process has ended, without a time-out, then releases the handle.
void WaitForProcessEnd(ProcessHandle process);

// Pauses the launcher.
void SleepMilliseconds(unsigned milliseconds);

// Returns true when this 32-bit process runs on 64-bit Windows (under WOW64).
bool RunsUnderWow64();

}  // namespace platform
