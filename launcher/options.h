#pragma once
#include <cstddef>
#include <string>

// The parser's answer: go on with the install run, refuse the command line, or show the help.
enum class RunResult { Run = 0, Invalid = 1, Help = 2 };

// The longest texts the options keep; longer values are cut without an error.
constexpr std::size_t kLanguageCodeLimit = 9;
constexpr std::size_t kOptionValueLimit = 255;

// What the command line asked for.
struct LaunchOptions {
  std::string languageCode;    // the whole "/l:" option as typed, such as "/l:de"
  std::string printerAddress;  // the text after "/address:"
  std::string portName;        // the text after "/port:"
  bool languageGiven = false;
  bool portGiven = false;           // portName is not empty
  bool portIsNetworkShare = false;  // portName names a printer share such as \\server\printer
  bool addressGiven = false;        // printerAddress is not empty
  bool installFailed = false;       // the run has failed; the cleanup says so
};

// Reads argv[1] onwards into launchOptions (options are found anywhere in an argument, without
// regard to case) and returns Help at the first "/?", Invalid at the first argument that holds no
// option (setting installFailed), and Run otherwise.
RunResult ParseCommandLine(int argc, const char* const* argv);

// Returns true when text starts with two backslashes and holds another backslash after them.
bool IsNetworkSharePath(const std::string& text);
