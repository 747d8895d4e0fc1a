#pragma once
#include <cstddef>
#include <string>

// The longest texts the options keep; longer ones are cut without an error. The language is kept
// as the whole option, so its nine characters are "/l:" and six of the code.
constexpr std::size_t kLanguageOptionLimit = 9;
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
};
