#include "tools/settings_check.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "common/package_layout.h"
#include "installer/orchestration.h"
#include "settings/line_reader.h"
#include "settings/port_mode.h"
#include "settings/port_rewrite.h"
#include "settings/reader.h"
#include "tools/stand_in.h"
#include "workspace/locations.h"

namespace {

// The lines the launcher looks for. Whole lines are compared with ==; "[Install]" is found
// anywhere in a line. The standalone-run keys stand in the order the launcher asks for them.
struct LookedFor {
  const char* text;
  bool wholeLine;
  const char* missedMeans;
};

constexpr const char* kPortKey = package::kPortOnCommandLineLine;
using package::kStandaloneKeys;
constexpr const char* kNoStandaloneRun = "this line does not ask for the standalone run";
static_assert(std::size(kStandaloneKeys) == 3, "each standalone key has its entry below");

constexpr LookedFor kLookedFor[] = {
    {kPortKey, true,
     "the package would not take its port from the command line, and /port: and /address: would be ignored"},
    {kStandaloneKeys[0], true, kNoStandaloneRun},
    {kStandaloneKeys[1], true, kNoStandaloneRun},
    {kStandaloneKeys[2], true, kNoStandaloneRun},
    {kPortsSectionLine.data(), true,
     "a port from the command line would not be entered below it, and a second [Ports] section would be appended"},
    {kInstallSectionText.data(), false, "a port from the command line would not be counted in this section"},
};

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The line as a near miss is recognised: white space gone, ASCII letters in small letters.
std::string Folded(std::string_view line) {
  std::string folded;
  for (char c : line) {
    if (IsWhiteSpace(c)) continue;
    folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return folded;
}

bool Contains(std::string_view line, std::string_view text) { return line.find(text) != std::string_view::npos; }

// Says how a near miss of a whole line differs from it.
std::string Difference(std::string_view line, std::string_view key) {
  std::vector<std::string> parts;
  std::size_t first = 0;
  while (first < line.size() && IsWhiteSpace(line[first])) ++first;
  std::size_t last = line.size();
  while (last > first && IsWhiteSpace(line[last - 1])) --last;
  if (first > 0) parts.emplace_back("white space before it");
  if (last < line.size()) parts.emplace_back("white space after it");
  std::string_view inner = line.substr(first, last - first);
  if (std::any_of(inner.begin(), inner.end(), IsWhiteSpace)) parts.emplace_back("white space inside it");
  std::string bare;
  for (char c : inner) {
    if (!IsWhiteSpace(c)) bare += c;
  }
  if (bare != key) parts.emplace_back("another letter case");
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : ", ") + parts[i];
  return text;
}

struct ScannedLine {
  int number;
  std::string text;
  const LookedFor* nearMiss;      // null when the line is no near miss
  bool portsInLongerKey = false;  // an [Install] line the rewrite reads in which "Ports=" only ends a longer key
};

// What one pass over the lines finds, the launcher's line ends applied.
struct Scan {
  std::vector<ScannedLine> notable;  // near misses, and lines that hold "Port=CmdLine" in other text
  int portLine = 0;
  std::vector<std::pair<std::string, int>> standaloneLines;  // key, first line, in the launcher's order
};

Scan ScanLines(std::FILE* file) {
  Scan scan;
  for (const char* key : kStandaloneKeys) scan.standaloneLines.emplace_back(key, 0);
  LineReader reader(file);
  std::string_view line;
  // The part of [Install] in which the rewrite counts ports, followed as the rewrite follows it.
  InstallSectionTracker install;
  for (int number = 1; reader.Next(&line); ++number) {
    bool countedHere = install.Next(line) != InstallPart::Outside;
    bool portsInLongerKey = countedHere && Contains(line, kPortCountKey) && !IsPortCountLine(line);
    if (line == kPortKey && scan.portLine == 0) scan.portLine = number;
    for (auto& [key, first] : scan.standaloneLines) {
      if (line == key && first == 0) first = number;
    }
    const LookedFor* nearMiss = nullptr;
    std::string folded = Folded(line);
    for (const LookedFor& lookedFor : kLookedFor) {
      bool matches = lookedFor.wholeLine ? line == lookedFor.text : Contains(line, lookedFor.text);
      std::string foldedText = Folded(lookedFor.text);
      bool nearly = lookedFor.wholeLine ? folded == foldedText : Contains(folded, foldedText);
      if (!matches && nearly) nearMiss = &lookedFor;
    }
    if (nearMiss != nullptr || portsInLongerKey || Contains(line, "\r") ||
        (line != kPortKey && Contains(line, kPortKey))) {
      scan.notable.push_back({number, std::string(line), nearMiss, portsInLongerKey});
    }
  }
  return scan;
}

std::string Quoted(std::string_view text) { return "\"" + VisibleBytes(text) + "\""; }

std::string Warning(const ScannedLine& line, bool portFromCommandLine) {
  std::string prefix = "line " + std::to_string(line.number) + ": ";
  // The rewrite replaces every line that holds "Port=CmdLine", not only the one that switched it on.
  if (portFromCommandLine && Contains(line.text, kPortKey)) {
    return prefix + Quoted(line.text) + " holds \"" + kPortKey +
           "\": a run with /port: replaces this whole line by \"Port=\" and the port name, as it does the line \"" +
           kPortKey + "\".";
  }
  if (line.portsInLongerKey) {
    return prefix + Quoted(line.text) +
           " holds \"Ports=\" only at the end of a longer key: the port count is a key \"Ports=\" of its own, so a "
           "run with /port: copies this line as it stands and counts the port in a \"Ports=\" line (adding "
           "\"Ports=1\" to [Install] when it has none). Rename the key if the installer reads it as the count.";
  }
  if (line.nearMiss == nullptr && Contains(line.text, "\r")) {
    return prefix + Quoted(line.text) +
           " holds a CR that no LF follows: the launcher ends lines at LF only, so to it "
           "this is one line. Save the file with CR LF line ends.";
  }
  if (line.nearMiss == nullptr) return "";
  const LookedFor& key = *line.nearMiss;
  std::string missedMeans = key.missedMeans;
  if (portFromCommandLine && std::string_view(key.text) == kPortKey) {
    missedMeans = "the launcher leaves this line as it stands (another line \"" + std::string(kPortKey) +
                  "\" takes the port from the command line)";
  }
  if (!key.wholeLine) {
    return prefix + Quoted(line.text) + " does not hold \"" + key.text +
           "\" as the launcher looks for it (letter case and blanks count), so " + missedMeans + ". Write \"" +
           key.text + "\".";
  }
  return prefix + Quoted(line.text) + " is not the line \"" + key.text + "\" (" + Difference(line.text, key.text) +
         "). The launcher compares whole lines byte for byte, so " + missedMeans + ". Write it exactly as \"" +
         key.text + "\".";
}

}  // namespace

std::string SettingsEncodingProblem(std::string_view bytes) {
  const std::string saveAs = " Save it as ANSI text (in Notepad: Save As, Encoding \"ANSI\").";
  const std::string findsNone = ": the launcher reads bytes, so it finds none of its lines." + saveAs;
  auto startsWith = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (startsWith("\xEF\xBB\xBF")) {
    return "it starts with a UTF-8 byte-order mark (EF BB BF): the launcher reads bytes, so its first line does not "
           "read as written and a key there is not found." +
           saveAs;
  }
  if (startsWith("\xFF\xFE")) return "it is UTF-16 little-endian text (Notepad's \"Unicode\")" + findsNone;
  if (startsWith("\xFE\xFF")) return "it is UTF-16 big-endian text (Notepad's \"Unicode big endian\")" + findsNone;
  std::size_t nul = bytes.find('\0');
  if (nul == std::string_view::npos) return "";
  // ASCII text in UTF-16 without a mark has every other byte zero: the high bytes.
  std::size_t zerosAtOdd = 0;
  std::size_t zerosAtEven = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\0') ++(i % 2 == 1 ? zerosAtOdd : zerosAtEven);
  }
  std::size_t half = bytes.size() / 2;
  if (zerosAtOdd * 2 >= half && zerosAtEven * 10 < zerosAtOdd) {
    return "it is UTF-16 little-endian text without a byte-order mark (every other byte is zero)" + findsNone;
  }
  if (zerosAtEven * 2 >= half && zerosAtOdd * 10 < zerosAtEven) {
    return "it is UTF-16 big-endian text without a byte-order mark (every other byte is zero)" + findsNone;
  }
  return "it holds a NUL byte (at byte " + std::to_string(nul) + "), which no ANSI text holds." + saveAs;
}

SettingsCheck CheckSettingsFile(const std::string& hostPath) {
  SettingsCheck check;
  std::FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (file == nullptr) {
    check.refusal = "it cannot be read.";
    return check;
  }
  std::string bytes;
  char buffer[65536];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
  bool readError = std::ferror(file) != 0;
  std::rewind(file);
  check.refusal = readError ? "it cannot be read." : SettingsEncodingProblem(bytes);
  if (!check.refusal.empty()) {
    std::fclose(file);
    return check;
  }
  Scan scan = ScanLines(file);
  std::fclose(file);

  {
    // The decisions are the launcher's own, on the file where a run finds it.
    StandInWindows standIn(StandInSetup{});
    ResolveTemporaryDirectory();
    standIn.WriteFile(SettingsFilePath(), bytes);
    check.portFromCommandLine = IsPortOnCommandLineMode();
    check.standaloneRun = RequestsStandaloneRun(SettingsFilePath());
  }
  check.portLine = scan.portLine;
  for (const auto& [key, first] : scan.standaloneLines) {
    if (first != 0) {
      check.standaloneKey = key;
      check.standaloneLine = first;
      break;
    }
  }
  for (const ScannedLine& line : scan.notable) {
    std::string warning = Warning(line, check.portFromCommandLine);
    if (!warning.empty()) check.warnings.push_back(warning);
  }
  return check;
}

std::string VisibleBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127 && byte != '<') {
      text += c;
    } else {
      text += '<';
      text += kHex[byte >> 4];
      text += kHex[byte & 15];
      text += '>';
    }
  }
  return text;
}
