#pragma once
// The package tool's checks of a settings file against the way the launcher reads it: as lines of
// bytes, compared whole and case-sensitively.

#include <string>
#include <string_view>
#include <vector>

// What a settings file means to the launcher, and what in it the launcher would not see.
struct SettingsCheck {
  std::string refusal;                // why the launcher cannot read the file as lines of bytes; "" when it can
  std::vector<std::string> warnings;  // "line N: ..." for lines that nearly match a line the launcher looks for
  bool portFromCommandLine = false;   // the launcher's own answer: a "Port=CmdLine" line
  bool standaloneRun = false;         // the launcher's own answer: a standalone-run key
  int portLine = 0;                   // the line number of "Port=CmdLine", 0 without one
  std::string standaloneKey;          // the first standalone-run key in the launcher's order
  int standaloneLine = 0;             // and the line number of its first occurrence
};

// Returns why the launcher cannot use bytes as its settings file: a UTF-8 byte-order mark, UTF-16
// with or without a byte-order mark, or any other NUL byte. Returns "" when it can.
std::string SettingsEncodingProblem(std::string_view bytes);

// Reads the settings file at hostPath and checks it. The two decisions come from the launcher's
// own lookups, run on a copy of the file in the stand-in Windows (which this resets). An
// unreadable file is a refusal.
SettingsCheck CheckSettingsFile(const std::string& hostPath);

// Returns bytes as one line of printable text: ASCII 32 to 126 as they are, every other byte and
// "<" as "<XX>" in hexadecimal, so that tabs, CRs and trailing blanks stay visible.
std::string VisibleBytes(std::string_view bytes);
