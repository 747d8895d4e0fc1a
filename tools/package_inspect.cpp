// The package tools' native helper: the launcher's own code on the stand-in Windows.
//   package_inspect settings FILE
//   package_inspect preview [--temp DIR] [--launcher PATH] [--x86] [--interactive] [--code-page N] PACKAGE_DIR
//   [OPTIONS...]
// Exit codes: 0 done (settings: the launcher can read the file), 1 settings refused, 2 usage or a
// failure of the tool itself.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "tools/preview.h"
#include "tools/settings_check.h"

namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: package_inspect settings FILE\n"
    "       package_inspect preview [--temp DIR] [--launcher PATH] [--x86] [--interactive] [--code-page N] PACKAGE_DIR "
    "[OPTIONS...]\n";

// The ANSI code pages of Windows, the only ones a launcher can run under.
bool IsAnsiCodePage(const std::string& number) {
  for (const char* page :
       {"874", "932", "936", "949", "950", "1250", "1251", "1252", "1253", "1254", "1255", "1256", "1257", "1258"}) {
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

int CheckSettings(const std::string& path) {
  SettingsCheck check = CheckSettingsFile(path);
  if (!check.refusal.empty()) {
    std::printf("refused: %s\n", check.refusal.c_str());
    return kRefused;
  }
  for (const std::string& warning : check.warnings) std::printf("warning: %s\n", warning.c_str());
  if (check.portFromCommandLine) {
    std::printf(
        "port: from the command line (\"Port=CmdLine\", line %d): every run needs /port: and /address:, or /port: "
        "with a printer share such as \\\\server\\printer; the launcher writes the port into the settings file\n",
        check.portLine);
  } else {
    std::printf("port: as the settings file sets it (no line \"Port=CmdLine\"): /port: and /address: are ignored\n");
  }
  if (check.standaloneRun) {
    std::printf(
        "installer: the standalone run (\"%s\", line %d): InstallGui.exe without parameters, or with the /l: "
        "option as typed\n",
        check.standaloneKey.c_str(), check.standaloneLine);
  } else {
    std::printf("installer: the settings run: InstallGui.exe /I: and the expanded settings file's path\n");
  }
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
                 "package_inspect: %s is not an ANSI code page of Windows (874, 932, 936, 949, 950, 1250 to 1258)\n",
                 codePage.c_str());
    return kUsage;
  }
  // The launcher sees its command line and paths in the ANSI code page; text that has no place
  // there reaches it as "?", which a preview cannot stand for.
  const std::string ansi = "CP" + codePage;
  std::vector<std::string> launcherArguments;
  std::vector<std::string*> texts{&setup.temp, &setup.launcherPath};
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
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  try {
    if (arguments.size() == 2 && arguments[0] == "settings") return CheckSettings(arguments[1]);
    if (!arguments.empty() && arguments[0] == "preview") return Preview({arguments.begin() + 1, arguments.end()});
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "package_inspect: %s\n", failure.what());
    return kUsage;
  }
  std::fputs(kUsageText, stderr);
  return kUsage;
}
