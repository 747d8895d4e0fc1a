#include "launcher/help.h"

#include "common/console.h"
#include "platform/platform.h"

void ShowHelp(const std::string& launcherFileName) {
  ShowConsoleWindow(platform::kShow);
  PrintLine("Help Menu for " + launcherFileName);
  PrintLine("Syntax:\t" + launcherFileName + " /parameter");
  PrintLine("Parameters: ");
  PrintLine("\t/?\t- Display Help Menu (This Menu)");
  PrintLine("   /l:(two letter language code) - force install to display in the specified language");
  PrintLine("   /address:(IP or network name) - specify IP address of the target printer");
  PrintLine("   /port:(portname) - specify port name to be created");
  PrintLine("The /port: and /address: parameters are useable only with");
  PrintLine("a packge created with Specify Port on Cmd line option.");
}
