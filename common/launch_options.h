#pragma once
#include <cstddef>
#include <optional>
#include <string>

// The longest texts the options keep; longer ones are cut without an error. The language is kept
// as the whole option, so its nine characters are "/l:" and six of the code.
constexpr std::size_t kLanguageOptionLimit = 9;
constexpr std::size_t kOptionValueLimit = 255;

// The time limits "/timeout:" takes, in minutes: up to a day.
constexpr unsigned kLongestTimeLimitMinutes = 1440;

// What the command line asked for.
struct LaunchOptions {
  std::string languageCode;    // the whole "/l:" option as typed, such as "/l:de"
  std::string printerAddress;  // the text after "/address:"
  std::string portName;        // the text after "/port:"
  bool languageGiven = false;
  bool portGiven = false;           // portName is not empty
  bool portIsNetworkShare = false;  // portName names a printer share such as \\server\printer
  bool addressGiven = false;        // printerAddress is not empty

  // What a fleet's deployment tools ask for, found wherever it stands among the arguments.
  bool msiExitCodes = false;           // "/exitcodes:msi": the run ends with Windows Installer's codes
  std::optional<std::string> logPath;  // "/log" (""): the default log; "/log:PATH": that file
  unsigned timeLimitMinutes = 0;       // "/timeout:N": the installer's time limit; 0: none
};
