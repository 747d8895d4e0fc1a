#include "common/run_log.h"

#include <cstdio>
#include <optional>

const char kLogFileSecurity[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";
const char kLogFolderSecurity[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

namespace {

// The open log and what every entry repeats; a run writes at most one.
struct RunLog {
  platform::AppendFile file;
  std::string context;
  unsigned long thread = 0;
};

RunLog& TheLog() {
  static RunLog log;
  return log;
}

// The source file's name without its folders: "orchestration.cpp".
std::string SourceName(const char* source) {
  std::string path = source != nullptr ? source : "";
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Keeps CMTrace's reading of an entry: a line end would start a new one, "]LOG]!>" ends the text.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  for (std::size_t at = line.find("]LOG]!>"); at != std::string::npos; at = line.find("]LOG]!>", at)) {
    line.insert(at + 5, " ");
  }
  return line;
}

// Returns the folder part of a full path ("C:\a\b.log" gives "C:\a"), "" when path is no full path
// with a file name: a drive path "X:\..." or a share path "\\server\share\...".
std::string FolderOf(const std::string& path) {
  bool drive = path.size() > 3 && path[1] == ':' && path[2] == '\\' &&
               ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  std::size_t shareEnd = std::string::npos;
  if (path.compare(0, 2, "\\\\") == 0) {
    std::size_t server = path.find('\\', 2);
    shareEnd = server == std::string::npos ? server : path.find('\\', server + 1);
  }
  std::size_t last = path.rfind('\\');
  if (!drive && shareEnd == std::string::npos) return "";
  if (last == path.size() - 1 || (!drive && last < shareEnd)) return "";
  return path.substr(0, last);
}

// The length of the volume's root in folder: "C:" or "\\server\share", which exist as long as the
// path can be used at all.
std::size_t RootLength(const std::string& folder) {
  if (folder[1] == ':') return 2;
  std::size_t share = folder.find('\\', folder.find('\\', 2) + 1);
  return share == std::string::npos ? folder.size() : share;
}

// Creates each missing folder of folder, each protected as the log is. A link or junction on the
// way is never entered: whoever could write where it stands could point it anywhere.
std::string MakeFolders(const std::string& folder) {
  std::size_t root = RootLength(folder);
  if (folder.size() <= root) return "";
  for (std::size_t end = folder.find('\\', root + 1);; end = folder.find('\\', end + 1)) {
    std::string part = folder.substr(0, end);
    platform::PathKind kind = platform::KindOf(part);
    if (kind == platform::PathKind::Missing) {
      platform::HeldDirectory created = platform::CreateHeldDirectory(part, kLogFolderSecurity);
      platform::ReleaseHeldDirectory(created);
      // Another run may have created it meanwhile: it only has to be a folder now.
      kind = created ? platform::PathKind::Directory : platform::KindOf(part);
      if (kind == platform::PathKind::Missing) return part + " could not be created";
    }
    if (kind == platform::PathKind::Link) return "a link or junction stands at " + part;
    if (kind == platform::PathKind::File) return part + " is a file";
    if (end == std::string::npos) return "";
  }
}

// The name of the one older log CMTrace looks for: the extension replaced by ".lo_".
std::string OlderLogPath(const std::string& path) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.rfind('\\');
  return (dot != std::string::npos && dot > slash ? path.substr(0, dot) : path) + ".lo_";
}

// Renames a log past its size to ".lo_" before the run appends; returns what the log should say.
std::string RotateIfFull(const std::string& path) {
  std::optional<unsigned long long> size = platform::FileSize(path);
  if (!size || *size <= kLogRotationBytes) return "";
  std::string older = OlderLogPath(path);
  // A link there is removed as itself, never followed; a folder there stops the rename.
  if (platform::KindOf(older) == platform::PathKind::File || platform::KindOf(older) == platform::PathKind::Link) {
    platform::RemoveFileAt(older);
  }
  if (!platform::RenamePath(path, older)) return "The log holds more than 10 MB and could not be renamed to " + older;
  return "The log held more than 10 MB and was renamed to " + older;
}

}  // namespace

std::string FormatLogEntry(LogType type, const std::string& text, const platform::LocalTime& clock,
                           const std::string& component, const std::string& context, unsigned long thread,
                           const std::string& file) {
  char when[96];
  std::snprintf(when, sizeof when, "time=\"%02d:%02d:%02d.%03d%+04d\" date=\"%d-%d-%04d\"", clock.hour, clock.minute,
                clock.second, clock.millisecond, clock.biasMinutes, clock.month, clock.day, clock.year);
  return "<![LOG[" + OneLine(text) + "]LOG]!><" + when + " component=\"" + component + "\" context=\"" + context +
         "\" type=\"" + std::to_string(static_cast<int>(type)) + "\" thread=\"" + std::to_string(thread) +
         "\" file=\"" + file + "\">\r\n";
}

void LogEntry(LogType type, const std::string& text, const char* source, int line) {
  RunLog& log = TheLog();
  if (!log.file) return;
  std::string file = SourceName(source);
  std::string component = file.substr(0, file.rfind('.'));
  std::string entry = FormatLogEntry(type, text, platform::LocalTimeNow(), component, log.context, log.thread,
                                     file + ":" + std::to_string(line));
  // A log that fails once is given up: nothing about it may slow or change the run.
  if (!platform::AppendTo(log.file, entry)) CloseRunLog();
}

void LogInformation(const std::string& text, const char* source, int line) {
  LogEntry(LogType::Information, text, source, line);
}

void LogWarning(const std::string& text, const char* source, int line) {
  LogEntry(LogType::Warning, text, source, line);
}

void LogError(const std::string& text, const char* source, int line) { LogEntry(LogType::Error, text, source, line); }

std::string OpenRunLog(const std::string& path) {
  CloseRunLog();
  std::string folder = FolderOf(path);
  if (folder.empty()) return "it is no full path to a file";
  std::string problem = MakeFolders(folder);
  if (!problem.empty()) return problem;
  platform::PathKind kind = platform::KindOf(path);
  if (kind == platform::PathKind::Link) return "a link or junction stands in its place";
  if (kind == platform::PathKind::Directory) return "it is a folder";
  std::string rotation = RotateIfFull(path);
  RunLog& log = TheLog();
  switch (platform::OpenForAppending(path, kLogFileSecurity, &log.file)) {
    case platform::AppendOpening::Opened:
      break;
    case platform::AppendOpening::Link:
      return "a link or junction stands in its place";
    case platform::AppendOpening::Failed:
      return "it could not be opened for appending";
  }
  log.context = platform::AccountName();
  log.thread = platform::ProcessId();
  if (!rotation.empty()) LogInformation(rotation);
  return "";
}

bool IsFullFilePath(const std::string& path) { return !FolderOf(path).empty(); }

bool RunLogIsOpen() { return static_cast<bool>(TheLog().file); }

void CloseRunLog() {
  RunLog& log = TheLog();
  platform::CloseAppendFile(log.file);
  log.file = platform::AppendFile{};
}

std::string DefaultLogPath(const std::string& windowsDirectory, const std::string& launcherFileName) {
  if (windowsDirectory.empty() || launcherFileName.empty()) return "";
  std::string name = launcherFileName;
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && name.size() - dot == 4) {
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (extension == "exe") name.erase(dot);
  }
  return windowsDirectory + "\\Logs\\Software\\" + name + ".log";
}
