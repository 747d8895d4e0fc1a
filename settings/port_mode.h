#pragma once

// Returns true when the settings file holds the whole line "Port=CmdLine": the package takes its
// printer port from the command line.
bool IsPortOnCommandLineMode();

// Returns true when the run may go on: the package does not take its port from the command line,
// or "/port:" and "/address:" were given, or the port is a printer share. Otherwise shows the
// console window, prints what is missing and returns false.
bool ValidatePortOptions();
