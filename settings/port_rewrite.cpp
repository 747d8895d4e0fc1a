#include "settings/port_rewrite.h"

#include <climits>
#include <cstdio>
#include <string_view>

#include "common/console.h"
#include "common/package_layout.h"
#include "common/run_log.h"
#include "platform/platform.h"
#include "settings/line_reader.h"
#include "settings/reader.h"

namespace {

bool Contains(std::string_view line, std::string_view text) { return line.find(text) != std::string_view::npos; }

// Writes text with every LF as CR LF, the bytes the Windows text mode would write, and
// remembers whether every write succeeded. Collects output in its own buffer, so that a file of
// short lines costs one write per 64 KB rather than two a line.
class CrLfWriter {
 public:
  explicit CrLfWriter(std::FILE* file) : file_(file) { pending_.reserve(kFlushSize + 4096); }

  void Put(std::string_view text) {
    std::size_t lineEnd;
    while ((lineEnd = text.find('\n')) != std::string_view::npos) {
      pending_.append(text.data(), lineEnd);
      pending_.append("\r\n", 2);
      text.remove_prefix(lineEnd + 1);
    }
    pending_.append(text.data(), text.size());
    if (pending_.size() >= kFlushSize) Flush();
  }

  // Writes a line read from the settings file, which holds no LF, and a line end.
  void PutLine(std::string_view line) {
    pending_.append(line.data(), line.size());
    pending_.append("\r\n", 2);
    if (pending_.size() >= kFlushSize) Flush();
  }

  // Writes what is collected; returns whether every write so far succeeded.
  bool Flush() {
    if (!pending_.empty() && std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) ok_ = false;
    pending_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kFlushSize = std::size_t{64} * 1024;

  std::FILE* file_;
  std::string pending_;
  bool ok_ = true;
};

struct PortEntry {
  std::string name;
  std::string address;
  bool isShare;
};

// The lines the pass changed, as they were and as they are, and those it added, for the log.
struct PortLines {
  std::string before;
  std::string after;

  void Changed(std::size_t number, std::string_view was, std::string_view is) {
    std::string at = "line " + std::to_string(number) + " ";
    before.append(before.empty() ? "" : ", ").append(at + "\"").append(was).append("\"");
    after.append(after.empty() ? "" : ", ").append(at + "\"").append(is).append("\"");
  }
  void Added(std::string_view text) {
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
      if (end > 0) after.append(after.empty() ? "" : ", ").append("added \"").append(text.substr(0, end)).append("\"");
      text.remove_prefix(end + 1);
    }
  }
};

// Copies every line of the settings file, changed where the port configuration asks for it, and
// appends the sections the port needs; notes in lines what it changed and added.
void WritePortConfiguration(LineReader& in, CrLfWriter& out, const PortEntry& port, PortLines* lines) {
  const std::string portType = port.isShare ? "=LocalPort" : "=StandardIP";
  InstallSectionTracker install;
  bool portsCountDone = false;
  bool portsSectionSeen = false;
  bool twainKeySeen = false;
  bool twainSectionSeen = false;

  std::string replaced;  // holds a line the pass has changed
  std::string_view line;
  std::size_t number = 0;
  auto put = [&](const std::string& text) {
    out.Put(text);
    lines->Added(text);
  };
  while (in.Next(&line)) {
    ++number;
    InstallPart part = install.Next(line);
    if (part == InstallPart::Closing) {
      // The [Install] section ends without a count: give it one, just before its end.
      if (!portsCountDone) put(std::string(kPortCountKey) + "1\n\n");
      portsCountDone = true;
    }
    if (part != InstallPart::Outside && IsPortCountLine(line)) {
      // "Ports=%d" can write no count beyond the int range: the largest stays as it is.
      long long count = ReadCount(line.substr(line.find('=') + 1));
      std::string counted = std::string(kPortCountKey) + std::to_string(count < INT_MAX ? count + 1 : count);
      lines->Changed(number, line, counted);
      replaced = counted;
      line = replaced;
      portsCountDone = true;
    }
    if (Contains(line, package::kPortOnCommandLineLine)) {
      lines->Changed(number, line, "Port=" + port.name);
      replaced = "Port=" + port.name;
      line = replaced;
    }
    out.PutLine(line);
    if (line == kPortsSectionLine) {
      portsSectionSeen = true;
      put(port.name + portType + "\n\n");
    }
    if (Contains(line, "Network_Twain=1")) twainKeySeen = true;
    if (Contains(line, "[Network_Twain]")) twainSectionSeen = true;
  }

  if (!portsSectionSeen) put(std::string(kPortsSectionLine) + "\n" + port.name + portType + "\n");
  put("\n[" + port.name + "]\nName=" + port.name + "\n");
  if (!port.isShare) put("HostName=" + port.name + "\nIPAddress=" + port.address + "\n");
  if (twainKeySeen && !twainSectionSeen && !port.isShare) {
    put("\n[Network_Twain]\nDefaultDevice=" + port.address + "\n");
  }
}

bool ReportUnchanged() {
  PrintLine("Unable to write the port configuration to the settings file; it was left unchanged.");
  return false;
}

}  // namespace

InstallPart InstallSectionTracker::Next(std::string_view line) {
  if (left) return InstallPart::Outside;
  if (!seen) {
    seen = Contains(line, kInstallSectionText);
    return InstallPart::Outside;
  }
  left = Contains(line, "[");
  return left ? InstallPart::Closing : InstallPart::Inside;
}

bool IsPortCountLine(std::string_view line) {
  for (std::size_t at = line.find(kPortCountKey); at != std::string_view::npos; at = line.find(kPortCountKey, at + 1)) {
    if (at == 0) return true;
    char before = line[at - 1];
    bool inKey = (before >= 'A' && before <= 'Z') || (before >= 'a' && before <= 'z') ||
                 (before >= '0' && before <= '9') || before == '_' || static_cast<unsigned char>(before) >= 0x80;
    if (!inKey) return true;
  }
  return false;
}

long long ReadCount(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return value;
}

bool RewritePortConfiguration(const std::string& portName, const std::string& printerAddress, bool portIsNetworkShare) {
  const std::string settingsPath = SettingsFilePath();
  const std::string temporaryPath = settingsPath + ".tmp";

  std::FILE* settings = platform::OpenStream(settingsPath, "rb");
  if (settings == nullptr) return false;
  // Never one that exists: whatever stands under that name (the cabinet may hold one) is not the
  // launcher's to write through or replace.
  std::FILE* temporary = platform::CreateNewFile(temporaryPath);
  if (temporary == nullptr) {
    std::fclose(settings);
    return ReportUnchanged();
  }

  LineReader in(settings);
  CrLfWriter out(temporary);
  PortLines lines;
  WritePortConfiguration(in, out, PortEntry{portName, printerAddress, portIsNetworkShare}, &lines);
  bool readToEnd = !in.Failed();
  std::fclose(settings);
  bool written = out.Flush() && std::fflush(temporary) == 0;
  written = std::fclose(temporary) == 0 && written;

  if (!readToEnd || !written || !platform::ReplaceFileWith(temporaryPath, settingsPath)) {
    platform::RemoveFileAt(temporaryPath);
    return ReportUnchanged();
  }
  LogInformation("The settings file's port lines before the port was entered: " +
                 (lines.before.empty() ? std::string("none") : lines.before));
  LogInformation("The settings file's port lines after: " + lines.after);
  return true;
}
