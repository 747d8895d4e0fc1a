// The package tools' native helper: the launcher's own code on the stand-in Windows.
//   package_inspect facts            what a package holds and how a launcher is bound, as JSON
//   package_inspect settings FILE    what the launcher makes of a settings file, as JSON
//   package_inspect preview [--temp DIR] [--launcher PATH] [--x86] [--interactive] [--code-page N]
//   [--product NAME --product-version VERSION [--company NAME]] PACKAGE_DIR [OPTIONS...]
// Exit codes: 0 done (settings: the launcher can read the file), 1 settings refused, 2 usage, 3 a
// failure of the tool itself; preview ends with the road's plain exit code of the run it shows (0,
// 1 or 10, also under /exitcodes:msi, whose codes an exit status cannot hold), which the package
// tool hands on as its own.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "common/package_layout.h"
#include "tools/preview.h"
#include "tools/settings_check.h"

namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int kFailed = 3;

const char kUsageText[] =
    "usage: package_inspect facts\n"
    "       package_inspect settings FILE\n"
    "       package_inspect preview [--temp DIR] [--launcher PATH] [--x86] [--interactive] [--code-page N]\n"
    "               [--product NAME --product-version VERSION [--company NAME]] PACKAGE_DIR [OPTIONS...]\n";

// The project's version, which the package tool reports as its own.
constexpr const char* kProjectVersion = PROJECT_VERSION_TEXT;

// The ANSI code pages of Windows, the only ones a launcher can run under; 65001 is UTF-8, which
// Windows 10 and later take as the ANSI code page when "Use Unicode UTF-8 for worldwide language
// support" is set.
constexpr const char* kAnsiCodePages[] = {"874",  "932",  "936",  "949",  "950",  "1250", "1251", "1252",
                                          "1253", "1254", "1255", "1256", "1257", "1258", "65001"};

bool IsAnsiCodePage(const std::string& number) {
  for (const char* page : kAnsiCodePages) {
    if (number == page) return true;
  }
  return false;
}

// Converts text between two encodings. Bytes that have no place in the target are written as
// "<XX>" when lenient, and make the result empty when not.
std::optional<std::string> Convert(const std::string& text, const std::string& from, const std::string& to,
                                   bool lenient) {
  iconv_t converter = iconv_open(to.c_str(), from.c_str());
  // iconv_open's failure value is (iconv_t)-1.
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;  // NOLINT(performance-no-int-to-ptr)
  std::string input = text;
  std::string output;
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
    output.append(buffer, static_cast<std::size_t>(out - buffer));
    if (done != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    if (!lenient) {
      iconv_close(converter);
      return std::nullopt;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "<%02X>", static_cast<unsigned char>(*in));
    output += hex;
    ++in;
    --inLeft;
  }
  iconv_close(converter);
  return output;
}

// Text as a JSON string: the settings check reports bytes of the file, which need not be UTF-8,
// so every byte above 127 goes out as the character of that number (Latin-1).
std::string Json(const std::string& text) {
  std::string json = "\"";
  for (unsigned char c : text) {
    char escaped[8];
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json += static_cast<char>(c);
    }
  }
  return json + "\"";
}

template <typename Texts>
std::string JsonList(const Texts& texts) {
  std::string json = "[";
  for (const auto& text : texts) json += (json.size() > 1 ? ", " : "") + Json(text);
  return json + "]";
}

// What the launcher makes of a settings file, as JSON: the refusal ("" when it can read it), the
// warnings, and the two decisions with the line numbers behind them.
int CheckSettings(const std::string& path) {
  SettingsCheck check = CheckSettingsFile(path);
  std::printf(
      "{\"refusal\": %s, \"warnings\": %s, \"port_from_command_line\": %s, \"port_line\": %d, "
      "\"standalone_run\": %s, \"standalone_key\": %s, \"standalone_line\": %d}\n",
      Json(check.refusal).c_str(), JsonList(check.warnings).c_str(), check.portFromCommandLine ? "true" : "false",
      check.portLine, check.standaloneRun ? "true" : "false", Json(check.standaloneKey).c_str(), check.standaloneLine);
  return check.refusal.empty() ? kDone : kRefused;
}

// The facts that the package tool shares with the launcher, as JSON, from the launcher's own
// definitions and the project's version.
int Facts() {
  std::printf(
      "{\"version\": %s, \"code_pages\": %s, \"settings_file\": %s, \"installers\": {\"x86\": %s, \"x64\": %s}, "
      "\"expansion_folder\": %s, \"shared_cabinet\": %s, \"max_path\": %zu, \"standalone_keys\": %s, "
      "\"binding\": {\"resource\": %s, \"magic\": %s, \"size\": %d, \"digest_size\": %d, \"state_bound\": %d, "
      "\"state_carried\": %d, "
      "\"carried_size\": %d, \"identity_size\": %d, \"name_field\": %d, \"version_field\": %d, "
      "\"name_characters\": %d, \"version_characters\": %d}, "
      "\"version_room\": {\"resource\": %s, \"size\": %d}}\n",
      Json(kProjectVersion).c_str(), JsonList(kAnsiCodePages).c_str(), Json(package::kSettingsFile).c_str(),
      Json(package::kInstallerX86).c_str(), Json(package::kInstallerX64).c_str(),
      Json(package::kExpansionFolder).c_str(), Json(package::kSharedCabinet).c_str(), package::kMaxPath,
      JsonList(package::kStandaloneKeys).c_str(), Json(package::kBindingResource).c_str(),
      Json(PACKAGE_BINDING_MAGIC).c_str(), PACKAGE_BINDING_SIZE, PACKAGE_BINDING_DIGEST_SIZE,
      PACKAGE_BINDING_STATE_BOUND, PACKAGE_BINDING_STATE_CARRIED, PACKAGE_BINDING_CARRIED_SIZE,
      PACKAGE_BINDING_IDENTITY_SIZE, PACKAGE_IDENTITY_NAME_FIELD, PACKAGE_IDENTITY_VERSION_FIELD,
      PACKAGE_IDENTITY_NAME_CHARACTERS, PACKAGE_IDENTITY_VERSION_CHARACTERS,
      Json(package::kVersionRoomResource).c_str(), PACKAGE_VERSION_ROOM_SIZE);
  return kDone;
}

int Preview(const std::vector<std::string>& arguments) {
  StandInSetup setup;
  std::string codePage = "1252";
  std::size_t next = 0;
  for (; next < arguments.size() && arguments[next].rfind("--", 0) == 0; ++next) {
    const std::string& option = arguments[next];
    if (option == "--x86") {
      setup.windows64 = false;
      continue;
    }
    if (option == "--interactive") {
      setup.personSees = true;
      continue;
    }
    if (next + 1 >= arguments.size()) break;
    if (option == "--temp") {
      setup.temp = arguments[++next];
    } else if (option == "--launcher") {
      setup.launcherPath = arguments[++next];
    } else if (option == "--code-page") {
      codePage = arguments[++next];
    } else if (option == "--product") {
      setup.package.product = arguments[++next];
    } else if (option == "--product-version") {
      setup.package.version = arguments[++next];
    } else if (option == "--company") {
      setup.package.company = arguments[++next];
    } else {
      break;
    }
  }
  if (next >= arguments.size() || arguments[next].rfind("--", 0) == 0) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  if (!IsAnsiCodePage(codePage)) {
    std::fprintf(stderr,
                 "package_inspect: %s is not an ANSI code page of Windows (874, 932, 936, 949, 950, 1250 to 1258, "
                 "65001)\n",
                 codePage.c_str());
    return kUsage;
  }
  // The launcher sees its command line and paths in the ANSI code page; text that has no place
  // there reaches it as "?", which a preview cannot stand for.
  const std::string ansi = codePage == "65001" ? "UTF-8" : "CP" + codePage;
  std::vector<std::string> launcherArguments;
  std::vector<std::string*> texts{&setup.temp, &setup.launcherPath, &setup.package.product, &setup.package.company};
  for (std::size_t i = next + 1; i < arguments.size(); ++i) launcherArguments.push_back(arguments[i]);
  for (std::string& argument : launcherArguments) texts.push_back(&argument);
  for (std::string* text : texts) {
    std::optional<std::string> converted = Convert(*text, "UTF-8", ansi, false);
    if (!converted) {
      std::fprintf(stderr,
                   "package_inspect: \"%s\" cannot be written in code page %s; the launcher would see \"?\" there\n",
                   text->c_str(), codePage.c_str());
      return kUsage;
    }
    *text = *converted;
  }
  PreviewResult result = RunPreview(setup, arguments[next], launcherArguments);
  std::optional<std::string> shown = Convert(FormatPreview(setup, launcherArguments, result), ansi, "UTF-8", true);
  std::fputs(shown ? shown->c_str() : "", stdout);
  return result.plainExitCode;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    if (arguments.size() == 1 && arguments[0] == "facts") return Facts();
    if (arguments.size() == 2 && arguments[0] == "settings") return CheckSettings(arguments[1]);
    if (!arguments.empty() && arguments[0] == "preview") return Preview({arguments.begin() + 1, arguments.end()});
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "package_inspect: %s\n", failure.what());
    return kFailed;
  }
  std::fputs(kUsageText, stderr);
  return kUsage;
}
