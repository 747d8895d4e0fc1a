#pragma once
#include <optional>
#include <string>

// Starts file through the shell with parameters (none: nothing at all, not an empty text) in
// launcherDirectory and the window state showCommand, waits without a time-out until it has ended
// when it started, then pauses 2 ms. Reports nothing: not the start, not the exit code. Where no
// person sees the window station, a failed start shows no message box either.
void RunAndWait(const std::string& file, const std::optional<std::string>& parameters, int showCommand);
