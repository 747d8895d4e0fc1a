#pragma once
// The run's log file, asked for with "/log" or "/log:PATH": one entry a line in the format of
// CMTrace, the log viewer administrators open their deployment tools' logs with. Each entry is
// handed to the system as it is written, so a run stopped from outside still leaves what it did.
// Without an open log every entry is dropped, and nothing about the log ever changes the run.

#include <string>

#include "platform/platform.h"

// The kinds of entry, as CMTrace colours them.
enum class LogType { Information = 1, Warning = 2, Error = 3 };

// Appends one entry of type 1, 2 or 3 to the open log; does nothing without one. The entry names
// the source file and line it was written from (the caller's, by default).
void LogInformation(const std::string& text, const char* source = __builtin_FILE(), int line = __builtin_LINE());
void LogWarning(const std::string& text, const char* source = __builtin_FILE(), int line = __builtin_LINE());
void LogError(const std::string& text, const char* source = __builtin_FILE(), int line = __builtin_LINE());

// Appends one entry of the given type; does nothing without an open log.
void LogEntry(LogType type, const std::string& text, const char* source, int line);

// Opens the log at path (a full path) for the rest of the run and returns ""; otherwise returns
// why it was not opened, and the run goes on without a log. Creates the missing folders of the
// path, renames a file past kLogRotationBytes to ".lo_" (replacing an older one) before it appends,
// never writes through a link or junction in the log's place, and creates a new file with
// kLogFileSecurity.
std::string OpenRunLog(const std::string& path);

// Returns true when path is a full path to a file: "X:\folder\name" or "\\server\share\name".
bool IsFullFilePath(const std::string& path);

// Returns true while a log is open.
bool RunLogIsOpen();

// Returns the log that "/log" alone asks for: windowsDirectory + "\Logs\Software\" and the
// launcher's file name with ".log" in place of ".exe" (appended when it has no such extension);
// "" without a Windows directory or a file name.
std::string DefaultLogPath(const std::string& windowsDirectory, const std::string& launcherFileName);

// Closes the log; later entries are dropped.
void CloseRunLog();

// A log that holds more than this is renamed to ".lo_" before a run appends to it, as CMTrace and
// Configuration Manager's client keep one older file.
constexpr unsigned long long kLogRotationBytes = 10ULL * 1024 * 1024;

// The descriptor of a new log file: SYSTEM and the Administrators group full control, Users read,
// nothing inherited from the folder.
extern const char kLogFileSecurity[];

// The descriptor of a folder the launcher creates for the log: as the file's, for all below it.
extern const char kLogFolderSecurity[];

// Returns one entry as CMTrace reads it, with its CR LF: <![LOG[text]LOG]!><time="HH:MM:SS.mmm+BIAS"
// date="M-D-YYYY" component="..." context="..." type="N" thread="N" file="...">. Line ends in the
// text become blanks, and a "]LOG]!>" in it is broken up, so that every entry stays one line.
std::string FormatLogEntry(LogType type, const std::string& text, const platform::LocalTime& clock,
                           const std::string& component, const std::string& context, unsigned long thread,
                           const std::string& file);
