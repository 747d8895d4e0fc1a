#include "launcher/options.h"

#include <algorithm>

#include "common/ascii_case.h"
#include "common/process_state.h"
#include "common/run_log.h"

namespace {

std::string CutTo(const std::string& text, std::size_t from, std::size_t limit) { return text.substr(from, limit); }

// Stores one option's value. A later occurrence of the same option replaces the earlier one
// wholly, its flags included, so the last one typed is the one that counts.
void StorePort(const std::string& value) {
  launchOptions.portName = CutTo(value, 0, kOptionValueLimit);
  launchOptions.portGiven = !launchOptions.portName.empty();
  launchOptions.portIsNetworkShare = launchOptions.portGiven && IsNetworkSharePath(launchOptions.portName);
}

void StoreAddress(const std::string& value) {
  launchOptions.printerAddress = CutTo(value, 0, kOptionValueLimit);
  launchOptions.addressGiven = !launchOptions.printerAddress.empty();
}

}  // namespace

FleetArgument ReadFleetArgument(const std::string& typed) {
  const std::string folded = FoldAsciiCase(typed);
  FleetArgument fleet;
  auto startsWith = [&](const char* text) { return folded.rfind(text, 0) == 0; };
  if (startsWith("/exitcodes:")) {
    fleet.option = FleetOption::ExitCodes;
    if (folded != "/exitcodes:msi") fleet.problem = "names no set of exit codes; the one there is is msi.";
  } else if (startsWith("/timeout:")) {
    fleet.option = FleetOption::TimeLimit;
    std::string digits = typed.substr(9);
    // At most four digits: anything longer is past the limit anyway, and cannot overflow.
    bool number = !digits.empty() && digits.size() <= 4 && digits.find_first_not_of("0123456789") == std::string::npos;
    fleet.minutes = number ? static_cast<unsigned>(std::stoul(digits)) : 0;
    if (fleet.minutes < 1 || fleet.minutes > kLongestTimeLimitMinutes)
      fleet.problem = "gives no number of minutes from 1 to 1440.";
  } else if (folded == "/log" || startsWith("/log:")) {
    fleet.option = FleetOption::Log;
    fleet.logPath = typed.substr(folded == "/log" ? 4 : 5);
    if (folded != "/log" && !IsFullFilePath(fleet.logPath))
      fleet.problem = "names no full path to a file, such as C:\\Logs\\Setup.log.";
  }
  return fleet;
}

void ReadFleetOptions(int argc, const char* const* argv) {
  launchOptions.msiExitCodes = false;
  launchOptions.logPath.reset();
  launchOptions.timeLimitMinutes = 0;
  int logs = 0;
  for (int i = 1; i < argc; ++i) {
    FleetArgument fleet = ReadFleetArgument(argv[i]);
    if (fleet.option == FleetOption::Log) ++logs;
    if (!fleet.problem.empty()) continue;
    if (fleet.option == FleetOption::ExitCodes) launchOptions.msiExitCodes = true;
    if (fleet.option == FleetOption::Log) launchOptions.logPath = fleet.logPath;
    if (fleet.option == FleetOption::TimeLimit) launchOptions.timeLimitMinutes = fleet.minutes;
  }
  // Two logs asked for: neither is the one the administrator meant.
  if (logs > 1) launchOptions.logPath.reset();
}

RunResult ParseCommandLine(int argc, const char* const* argv, std::string* refusal) {
  static const std::string kHelp = "/?";
  static const std::string kLanguage = "/l:";
  static const std::string kPort = "/port:";
  static const std::string kAddress = "/address:";

  auto refuse = [&](const std::string& typed, const std::string& why) {
    if (refusal != nullptr) *refusal = "\"" + typed + "\" " + why;
    return RunResult::Invalid;
  };
  bool seen[4] = {};
  for (int i = 1; i < argc; ++i) {
    const std::string typed = argv[i];
    // A fleet option is a whole argument: a log's path may hold "/?" or "/port:" as any text.
    FleetArgument fleet = ReadFleetArgument(typed);
    if (fleet.option != FleetOption::None) {
      if (!fleet.problem.empty()) return refuse(typed, fleet.problem);
      bool& given = seen[static_cast<int>(fleet.option)];
      if (given) return refuse(typed, "repeats an option given before.");
      given = true;
      continue;
    }
    const std::string folded = FoldAsciiCase(typed);
    std::size_t at;
    if (folded.find(kHelp) != std::string::npos) return RunResult::Help;
    if ((at = folded.find(kLanguage)) != std::string::npos) {
      // The option text itself is kept, so it reaches the installer as a whole option.
      launchOptions.languageCode = CutTo(typed, at, kLanguageOptionLimit);
      launchOptions.languageGiven = true;
    } else if ((at = folded.find(kPort)) != std::string::npos) {
      StorePort(typed.substr(at + kPort.size()));
    } else if ((at = folded.find(kAddress)) != std::string::npos) {
      StoreAddress(typed.substr(at + kAddress.size()));
    } else {
      return refuse(typed, "is no option.");
    }
  }
  return RunResult::Run;
}

bool IsNetworkSharePath(const std::string& text) {
  if (text.find("\\\\") != 0) return false;
  return text.find('\\', 2) != std::string::npos;
}
