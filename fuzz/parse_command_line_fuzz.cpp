// Random argument vectors for ParseCommandLine: no crash, no stored text beyond its limit, the
// answer decided by the first argument that asks for help, holds no option or is a fleet option
// that is invalid or repeated, and flags that agree with the stored texts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "launcher/options.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "ParseCommandLine: %s\n", what);
    std::abort();
  }
}

std::string Folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool Holds(const std::string& text, const char* option) { return text.find(option) != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by NUL bytes, as no argument can hold one.
  std::vector<std::string> arguments = {"C:\\pkg\\Setup.exe", ""};
  for (std::size_t i = 0; i < size && arguments.size() < 64; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += static_cast<char>(data[i]);
    }
  }
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());

  launchOptions = LaunchOptions();
  RunResult result = ParseCommandLine(static_cast<int>(argv.size()), argv.data());

  RunResult expected = RunResult::Run;
  bool seen[4] = {};
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::string folded = Folded(arguments[i]);
    FleetArgument fleet = ReadFleetArgument(arguments[i]);
    if (fleet.option != FleetOption::None) {
      bool& given = seen[static_cast<int>(fleet.option)];
      if (!fleet.problem.empty() || given) {
        expected = RunResult::Invalid;
        break;
      }
      given = true;
      continue;
    }
    if (Holds(folded, "/?")) {
      expected = RunResult::Help;
      break;
    }
    if (!Holds(folded, "/l:") && !Holds(folded, "/port:") && !Holds(folded, "/address:")) {
      expected = RunResult::Invalid;
      break;
    }
  }
  Check(result == expected, "answer differs from the first deciding argument");
  Check(launchOptions.languageCode.size() <= kLanguageOptionLimit, "language option beyond its limit");
  Check(launchOptions.portName.size() <= kOptionValueLimit, "port name beyond its limit");
  Check(launchOptions.printerAddress.size() <= kOptionValueLimit, "address beyond its limit");
  Check(launchOptions.portGiven == !launchOptions.portName.empty(), "portGiven disagrees with portName");
  Check(launchOptions.addressGiven == !launchOptions.printerAddress.empty(), "addressGiven disagrees with the address");
  Check(launchOptions.portIsNetworkShare == (launchOptions.portGiven && IsNetworkSharePath(launchOptions.portName)),
        "portIsNetworkShare disagrees with portName");
  Check(!launchOptions.languageGiven || Folded(launchOptions.languageCode).rfind("/l:", 0) == 0,
        "language code does not start with its option");
  return 0;
}
