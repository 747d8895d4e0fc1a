#include "common/console.h"

#include "common/run_log.h"
#include "platform/platform.h"

namespace {

// The console window as fetched at start; none until then, and when the process has none.
platform::WindowHandle consoleWindow;

}  // namespace

void FetchConsoleWindow() { consoleWindow = platform::ConsoleWindow(); }

void ShowConsoleWindow(int showCommand) {
  if (consoleWindow) platform::ShowWindowAs(consoleWindow, showCommand);
}

void BringConsoleWindowToForeground() {
  if (consoleWindow) platform::BringToForeground(consoleWindow);
}

namespace {

void PrintAndLog(LogType type, const std::string& text, const char* source, int line) {
  platform::WriteStandardOutput(text);
  platform::WriteStandardOutput("\n");
  // Windows does not flush a console stream at a line end, and lines must show while hidden.
  platform::FlushStandardOutput();
  LogEntry(type, text, source, line);
}

}  // namespace

void PrintLine(const std::string& text, const char* source, int line) {
  PrintAndLog(LogType::Information, text, source, line);
}

void PrintErrorLine(const std::string& text, const char* source, int line) {
  PrintAndLog(LogType::Error, text, source, line);
}

void WaitForEnter() {
  PrintLine("Press ENTER to continue");
  // In session 0 or a network logon standard input is a console nobody types into: the read
  // would never return, and the deployment tool would wait for its time-out, not the exit code.
  if (platform::RunsWhereAPersonSees()) platform::ReadStandardInputCharacter();
}
