#pragma once
#include <string>

#include "common/launch_options.h"

// The parser's answer: go on with the install run, refuse the command line, or show the help.
enum class RunResult { Run = 0, Invalid = 1, Help = 2 };

// Reads argv[1] onwards into launchOptions (options are found anywhere in an argument, without
// regard to case) and returns Help at the first "/?", Invalid at the first argument that holds no
// option, and Run otherwise.
RunResult ParseCommandLine(int argc, const char* const* argv);

// Returns true when text starts with two backslashes and holds another backslash after them.
bool IsNetworkSharePath(const std::string& text);
