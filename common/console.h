#pragma once
#include <string>

// Fetches the console window; the run sequence does it once, at start, and the run keeps it.
void FetchConsoleWindow();

// Shows the console window in showCommand's state; does nothing when the process has none.
void ShowConsoleWindow(int showCommand);

// Brings the console window to the foreground; does nothing when the process has none.
void BringConsoleWindowToForeground();

// Writes text and a line end to standard output and flushes it, so that the line shows at once
// even while the console window is hidden; enters it in the log as information, from the caller.
void PrintLine(const std::string& text, const char* source = __builtin_FILE(), int line = __builtin_LINE());

// Prints as PrintLine does, and enters the line in the log as an error: it says what went wrong.
void PrintErrorLine(const std::string& text, const char* source = __builtin_FILE(), int line = __builtin_LINE());

// Prints "Press ENTER to continue" and reads one character from standard input; returns at once
// when standard input is at its end, and reads nothing where no person sees the window station.
void WaitForEnter();
