#pragma once
#include <string>

// Writes text and a line end to standard output and flushes it, so that the line shows at once
// even while the console window is hidden.
void PrintLine(const std::string& text);

// Prints "Press ENTER to continue" and reads one character from standard input; returns at once
// when standard input is at its end, and reads nothing where no person sees the window station.
void WaitForEnter();
