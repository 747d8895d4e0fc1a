#include "launcher/options.h"

#include <algorithm>

#include "common/process_state.h"

namespace {

// Folds A-Z only; bytes above 127 stay as they are, so positions match the typed text.
std::string FoldAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

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

RunResult ParseCommandLine(int argc, const char* const* argv) {
  static const std::string kHelp = "/?";
  static const std::string kLanguage = "/l:";
  static const std::string kPort = "/port:";
  static const std::string kAddress = "/address:";

  for (int i = 1; i < argc; ++i) {
    const std::string typed = argv[i];
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
      return RunResult::Invalid;
    }
  }
  return RunResult::Run;
}

bool IsNetworkSharePath(const std::string& text) {
  if (text.find("\\\\") != 0) return false;
  return text.find('\\', 2) != std::string::npos;
}
