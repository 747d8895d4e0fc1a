#pragma once
#include <string>

#include "common/launch_options.h"

// The parser's answer: go on with the install run, refuse the command line, or show the help.
enum class RunResult { Run = 0, Invalid = 1, Help = 2 };

// Reads argv[1] onwards into launchOptions (options are found anywhere in an argument, without
// regard to case) and returns Help at the first "/?", Invalid at the first argument that holds no
// option, and Run otherwise. A fleet option (ReadFleetArgument) is taken as a whole argument and
// never searched for another option: a valid one is passed over, an invalid or repeated one is
// Invalid there. With refusal, says on Invalid why: the argument and what is wrong with it.
RunResult ParseCommandLine(int argc, const char* const* argv, std::string* refusal = nullptr);

// The options of a fleet's deployment tools.
enum class FleetOption { None, ExitCodes, Log, TimeLimit };

// One argument read as a fleet option.
struct FleetArgument {
  FleetOption option = FleetOption::None;
  std::string problem;   // "" when the launcher takes its value; otherwise what is wrong with it
  std::string logPath;   // "/log:PATH"'s PATH; "" for "/log" alone
  unsigned minutes = 0;  // "/timeout:"'s value
};

// Reads an argument that starts with "/exitcodes:", "/timeout:" or "/log:", or is "/log" (in any
// letter case): "/exitcodes:msi", "/timeout:" with 1 to 1440 minutes in digits, "/log" and
// "/log:" with a full path to a file are valid. Any other argument is FleetOption::None.
FleetArgument ReadFleetArgument(const std::string& typed);

// Reads the fleet options of argv[1] onwards, wherever they stand, into launchOptions: before the
// guard, so that the exit codes and the log follow its answer and an invalid argument's too. A
// repeated log is left out; ParseCommandLine refuses invalid and repeated ones.
void ReadFleetOptions(int argc, const char* const* argv);

// Returns true when text starts with two backslashes and holds another backslash after them.
bool IsNetworkSharePath(const std::string& text);
