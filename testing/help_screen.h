#pragma once
#include <string>
#include <vector>

// The help screen for a launcher named Setup.exe, as users and scripts see it.
inline std::vector<std::string> HelpScreenForSetupExe() {
  return {"Help Menu for Setup.exe",
          "Syntax:\tSetup.exe /parameter",
          "Parameters: ",
          "\t/?\t- Display Help Menu (This Menu)",
          "   /l:(two letter language code) - force install to display in the specified language",
          "   /address:(IP or network name) - specify IP address of the target printer",
          "   /port:(portname) - specify port name to be created",
          "The /port: and /address: parameters are useable only with",
          "a packge created with Specify Port on Cmd line option."};
}
