// The native stand-in for the Windows platform: answers come from host_control.h, files live in a
// test's temporary directory, and programs are recorded instead of started.
#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>

#include "platform/host_control.h"
#include "platform/platform.h"

namespace {

// A process the stand-in started: its exit code, and whether it has ended (one that runs forever
// ends only when the launcher ends it).
struct StartedProcess {
  unsigned long exitCode;
  bool ended;
};

struct HostState {
  std::string root = "/tmp";
  std::vector<host::HostProcess> processes;  // identifiers 1, 2, ... in this order
  bool system = false;
  std::string windowsDirectory = "C:\\Windows";
  std::string temporaryDirectoryOfTheSystem;
  std::optional<unsigned long long> randomNumber = 0x0123456789ABCDEFULL;
  bool snapshotAvailable = true;
  bool consoleWindow = true;
  bool personSees = true;
  std::string executablePath = "C:\\pkg\\Setup.exe";
  std::map<std::string, platform::AnsiSpelling> environmentSpellings;
  std::string systemDirectory = "C:\\Windows\\system32";
  std::map<std::string, std::string> shortPaths;
  bool shortPathsAvailable = true;
  std::vector<std::pair<std::string, std::string>> environment;
  bool underWow64 = false;
  std::string standardInput;
  std::size_t standardInputRead = 0;
  std::function<void(const host::StartedProgram&)> programEffect;
  std::vector<std::string> failOpening;
  std::vector<std::pair<std::string, std::size_t>> failReading;
  std::vector<std::pair<std::string, std::size_t>> failWriting;
  bool failReplacing = false;
  bool failRenaming = false;
  std::vector<std::string> keptOnRemoval;  // host paths
  std::function<void(const std::string&)> beforeCreatingDirectory;
  std::string account = "S-1-5-21-0-0-0-1000";
  std::map<std::string, platform::DirectorySecurity> security;
  std::vector<std::string> locksHeldElsewhere;
  unsigned long uniqueNumber = 0x5EED;
  std::map<std::string, std::string> resources;
  std::vector<std::string> events;
  std::string pendingOutput;
  std::vector<host::StartedProgram> started;
  bool fileNamesIgnoreCase = false;
  std::string commandLine;
  unsigned long long milliseconds = 0;
  std::vector<std::pair<std::string, unsigned long>> exitCodes;
  std::vector<std::pair<std::string, unsigned long>> startFailures;
  std::deque<StartedProcess> startedProcesses;  // every process started since the reset; handles point here
  unsigned long nextProcessId = 1000;
  std::vector<std::string> runForever;
  unsigned long jobError = 0;
  bool failWritingEvents = false;
  std::vector<host::WrittenEvent> writtenEvents;
  platform::LocalTime localTime{2024, 3, 5, 14, 7, 9, 42, -60};
  std::string accountName = "NT AUTHORITY\\SYSTEM";
  unsigned long processId = 4242;
};

HostState& State() {
  static HostState state;
  return state;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A stream over a real file that fails once a number of bytes has passed through it.
struct FaultyStream {
  std::FILE* real;
  std::size_t remaining;
};

ssize_t ReadFaulty(void* cookie, char* buffer, size_t size) {
  auto* stream = static_cast<FaultyStream*>(cookie);
  if (stream->remaining == 0) {
    errno = EIO;
    return -1;
  }
  size = std::min(size, stream->remaining);
  size_t count = std::fread(buffer, 1, size, stream->real);
  stream->remaining -= count;
  return static_cast<ssize_t>(count);
}

ssize_t WriteFaulty(void* cookie, const char* buffer, size_t size) {
  auto* stream = static_cast<FaultyStream*>(cookie);
  if (stream->remaining == 0) {
    errno = ENOSPC;
    return -1;
  }
  size = std::min(size, stream->remaining);
  size_t count = std::fwrite(buffer, 1, size, stream->real);
  stream->remaining -= count;
  return static_cast<ssize_t>(count);
}

int CloseFaulty(void* cookie) {
  auto* stream = static_cast<FaultyStream*>(cookie);
  int result = std::fclose(stream->real);
  delete stream;
  return result;
}

std::FILE* OpenFaulty(std::FILE* real, std::size_t bytes, bool forReading) {
  cookie_io_functions_t functions = {};
  if (forReading) {
    functions.read = ReadFaulty;
  } else {
    functions.write = WriteFaulty;
  }
  functions.close = CloseFaulty;
  return fopencookie(new FaultyStream{real, bytes}, forReading ? "r" : "w", functions);
}

// Replaces each part of path after its first `fixed` characters that does not exist as written by
// an entry of its folder that differs only in letter case, when there is one.
std::string WithCaseOfExistingEntries(const std::string& path, std::size_t fixed) {
  std::string resolved = path.substr(0, fixed);
  std::size_t position = fixed;
  while (position < path.size()) {
    std::size_t next = path.find('/', position + 1);
    if (next == std::string::npos) next = path.size();
    std::string part = path.substr(position + 1, next - position - 1);
    std::string candidate = resolved;
    candidate.append("/").append(part);
    struct stat status;
    DIR* directory = part.empty() || lstat(candidate.c_str(), &status) == 0 ? nullptr : opendir(resolved.c_str());
    if (directory != nullptr) {
      while (const dirent* entry = readdir(directory)) {
        if (strcasecmp(entry->d_name, part.c_str()) == 0) {
          candidate = resolved;
          candidate.append("/").append(entry->d_name);
          break;
        }
      }
      closedir(directory);
    }
    resolved = candidate;
    position = next;
  }
  return resolved;
}

}  // namespace

namespace host {

void Reset(const std::string& root) {
  State() = HostState();
  State().root = root;
}

void ClearRecords() {
  State().writtenEvents.clear();
  State().events.clear();
  State().pendingOutput.clear();
  State().started.clear();
}

std::string HostPath(const std::string& windowsPath) {
  std::string path = windowsPath;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    std::string mapped = State().root + "/" + path[0] + path.substr(2);
    return State().fileNamesIgnoreCase ? WithCaseOfExistingEntries(mapped, State().root.size()) : mapped;
  }
  return path;
}

void SetFileNamesIgnoreCase(bool ignore) { State().fileNamesIgnoreCase = ignore; }

void SetProcessNames(const std::vector<std::string>& names) {
  State().processes.clear();
  for (const std::string& name : names) State().processes.push_back({name, true});
}
void SetProcesses(const std::vector<HostProcess>& processes) { State().processes = processes; }
void SetRunsAsSystem(bool system) { State().system = system; }
void SetWindowsDirectory(const std::string& path) { State().windowsDirectory = path; }
void SetTemporaryDirectoryOfTheSystem(const std::string& path) { State().temporaryDirectoryOfTheSystem = path; }
void SetRandomNumber(std::optional<unsigned long long> number) { State().randomNumber = number; }
void SetProcessSnapshotAvailable(bool available) { State().snapshotAvailable = available; }
void SetConsoleWindow(bool present) { State().consoleWindow = present; }
void SetPersonSees(bool sees) { State().personSees = sees; }
void SetExecutablePath(const std::string& path) { State().executablePath = path; }
void SetEnvironmentSpelling(const std::string& name, const platform::AnsiSpelling& spelling) {
  State().environmentSpellings[name] = spelling;
}
void SetSystemDirectory(const std::string& path) { State().systemDirectory = path; }
void SetShortPath(const std::string& longPath, const std::string& shortPath) {
  State().shortPaths[longPath] = shortPath;
}
void SetShortPathsAvailable(bool available) { State().shortPathsAvailable = available; }

void SetEnvironment(const std::string& name, const std::string& value) {
  UnsetEnvironment(name);
  State().environment.emplace_back(name, value);
}

void UnsetEnvironment(const std::string& name) {
  auto& environment = State().environment;
  environment.erase(
      std::remove_if(environment.begin(), environment.end(),
                     [&](const auto& entry) { return strcasecmp(entry.first.c_str(), name.c_str()) == 0; }),
      environment.end());
}

void SetWow64(bool underWow64) { State().underWow64 = underWow64; }
void SetStandardInput(const std::string& text) { State().standardInput = text; }
void OnProgramStart(std::function<void(const StartedProgram&)> effect) { State().programEffect = std::move(effect); }
void FailOpening(const std::string& pathSuffix) { State().failOpening.push_back(pathSuffix); }
void FailReadingAfter(const std::string& pathSuffix, std::size_t bytes) {
  State().failReading.emplace_back(pathSuffix, bytes);
}
void FailWritingAfter(const std::string& pathSuffix, std::size_t bytes) {
  State().failWriting.emplace_back(pathSuffix, bytes);
}
void FailReplacing() { State().failReplacing = true; }
void FailRenaming() { State().failRenaming = true; }
void KeepOnRemoval(const std::string& path) { State().keptOnRemoval.push_back(HostPath(path)); }
void BeforeCreatingDirectory(std::function<void(const std::string&)> effect) {
  State().beforeCreatingDirectory = std::move(effect);
}

void SetCurrentAccount(const std::string& sid) { State().account = sid; }
void SetDirectorySecurity(const std::string& path, const platform::DirectorySecurity& security) {
  State().security[HostPath(path)] = security;
}
void HoldLockElsewhere(const std::string& name) { State().locksHeldElsewhere.push_back(name); }
void SetUniqueNumber(unsigned long number) { State().uniqueNumber = number; }
void SetOwnResource(const std::string& name, const std::string& bytes) { State().resources[name] = bytes; }

void SetCommandLine(const std::string& commandLine) { State().commandLine = commandLine; }
void SetMilliseconds(unsigned long long milliseconds) { State().milliseconds = milliseconds; }
void SetExitCode(const std::string& pathSuffix, unsigned long exitCode) {
  State().exitCodes.emplace_back(pathSuffix, exitCode);
}
void FailStarting(const std::string& pathSuffix, unsigned long error) {
  State().startFailures.emplace_back(pathSuffix, error);
}
void FailWritingEvents() { State().failWritingEvents = true; }
void RunForever(const std::string& pathSuffix) { State().runForever.push_back(pathSuffix); }
void FailJobs(unsigned long error) { State().jobError = error; }
void SetLocalTime(const platform::LocalTime& time) { State().localTime = time; }
void SetAccountName(const std::string& name) { State().accountName = name; }
void SetProcessId(unsigned long id) { State().processId = id; }

const std::vector<std::string>& Events() { return State().events; }
const std::vector<WrittenEvent>& WrittenEvents() { return State().writtenEvents; }

std::vector<std::string> PrintedLines() {
  std::vector<std::string> lines;
  for (const std::string& event : State().events) {
    if (event.rfind("line:", 0) == 0) lines.push_back(event.substr(5));
  }
  return lines;
}

std::string UnflushedOutput() { return State().pendingOutput; }
const std::vector<StartedProgram>& StartedPrograms() { return State().started; }

}  // namespace host

namespace platform {

WindowHandle ConsoleWindow() {
  State().events.push_back("console-window");
  static char window;  // any non-null handle will do
  return WindowHandle{State().consoleWindow ? &window : nullptr};
}

void ShowWindowAs(WindowHandle window, int showCommand) {
  State().events.push_back(std::string(window ? "window:" : "window-none:") + std::to_string(showCommand));
}

void BringToForeground(WindowHandle window) { State().events.push_back(window ? "foreground" : "foreground-none"); }

void WriteStandardOutput(const std::string& text) { State().pendingOutput += text; }

void FlushStandardOutput() {
  // Each flushed piece that ends in a line end is recorded as lines, so a test sees both the
  // text and that it was flushed.
  std::string& pending = State().pendingOutput;
  std::size_t end;
  while ((end = pending.find('\n')) != std::string::npos) {
    State().events.push_back("line:" + pending.substr(0, end));
    pending.erase(0, end + 1);
  }
}

bool RunsWhereAPersonSees() { return State().personSees; }

int ReadStandardInputCharacter() {
  State().events.push_back("read-input");
  HostState& state = State();
  if (state.standardInputRead >= state.standardInput.size()) return EOF;
  return static_cast<unsigned char>(state.standardInput[state.standardInputRead++]);
}

bool VisitProcesses(const std::function<bool(const ProcessEntry&)>& visit) {
  if (!State().snapshotAvailable) return false;
  std::size_t read = 0;
  for (const host::HostProcess& process : State().processes) {
    ++read;
    if (!visit(ProcessEntry{process.name, static_cast<unsigned long>(read)})) break;
  }
  State().events.push_back("processes-read:" + std::to_string(read));
  return true;
}

bool RunsElevatedOrAsSystem(unsigned long processId) {
  const auto& processes = State().processes;
  return processId >= 1 && processId <= processes.size() && processes[processId - 1].elevated;
}

bool RunsAsSystem() { return State().system; }

std::string ExecutablePath() { return State().executablePath; }

AnsiSpelling SpellEnvironmentValue(const std::string& name) {
  for (const auto& [known, spelling] : State().environmentSpellings) {
    if (strcasecmp(known.c_str(), name.c_str()) == 0) return spelling;
  }
  return AnsiSpelling{};
}

namespace {

// What a held directory is on the host: a descriptor of the directory and the path it was held at
// (the host cannot keep others from renaming it).
struct HostHeldDirectory {
  int descriptor;
  std::string path;
};

std::string IdentityOf(const struct stat& status) {
  return std::to_string(status.st_dev) + "-" + std::to_string(status.st_ino);
}

}  // namespace

DirectoryIdentity IdentifyDirectory(const std::string& path) {
  DirectoryIdentity identity;
  char* real = realpath(host::HostPath(path).c_str(), nullptr);
  struct stat status;
  if (real == nullptr || stat(real, &status) != 0 || !S_ISDIR(status.st_mode)) {
    std::free(real);
    return identity;
  }
  // Back from the host's file to the Windows path it stands for: root + "/X/..." is "X:\...".
  std::string resolved = real;
  std::free(real);
  const std::string& root = State().root;
  if (resolved.compare(0, root.size() + 1, root + "/") == 0 && resolved.size() >= root.size() + 2) {
    std::string rest = resolved.substr(root.size() + 2);
    std::replace(rest.begin(), rest.end(), '/', '\\');
    identity.finalPath = resolved.substr(root.size() + 1, 1) + ":" + (rest.empty() ? "\\" : rest);
  }
  identity.id = IdentityOf(status);
  return identity;
}

namespace {

HeldDirectory HoldExisting(const std::string& path) {
  int descriptor = open(host::HostPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (descriptor == -1) return HeldDirectory{};
  State().events.push_back("hold-directory:" + path);
  return HeldDirectory{new HostHeldDirectory{descriptor, path}};
}

// As Wine reads back Unix mode bits: a folder that others may enter names Everyone too.
DirectorySecurity SecurityOf(const std::string& path) {
  auto known = State().security.find(host::HostPath(path));
  if (known != State().security.end()) return known->second;
  struct stat status;
  const std::string& account = State().account;
  if (stat(host::HostPath(path).c_str(), &status) == 0 && (status.st_mode & 0007) == 0) {
    return DirectorySecurity{account, {"S-1-5-18", account}, true};
  }
  return DirectorySecurity{account, {account, "S-1-1-0"}, true};
}

// Where the directory open as descriptor is now, however it was renamed or moved since.
std::string CurrentPathOf(int descriptor) {
  char current[4096];
  std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  ssize_t length = readlink(link.c_str(), current, sizeof current - 1);
  return length > 0 ? std::string(current, static_cast<std::size_t>(length)) : "";
}

// Removes what the directory open as descriptor holds, through descriptors relative to it as
// Windows does through handles: a link is unlinked as itself, never followed. relative is the
// directory's path below the removed one; returns true when everything below it is gone.
bool RemoveEntriesAt(int descriptor, const std::string& relative, std::vector<LeftEntry>* left) {
  const std::vector<std::string>& kept = State().keptOnRemoval;
  std::string here = CurrentPathOf(descriptor) + "/";
  DIR* listing = fdopendir(dup(descriptor));
  if (listing == nullptr) return false;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(listing);
  bool all = true;
  for (const std::string& name : names) {
    std::string path = relative;
    if (!path.empty()) path += '\\';
    path += name;
    struct stat status;
    if (fstatat(descriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    if (std::find(kept.begin(), kept.end(), here + name) != kept.end()) {
      if (left != nullptr) left->push_back({path, "could not be deleted (held open)"});
      all = false;
      continue;
    }
    if (S_ISLNK(status.st_mode)) State().events.push_back("remove-link:" + name);
    bool emptied = true;
    if (S_ISDIR(status.st_mode)) {
      int child = openat(descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      emptied = child != -1 && RemoveEntriesAt(child, path, left);
      if (child != -1) close(child);
    }
    if (unlinkat(descriptor, name.c_str(), S_ISDIR(status.st_mode) ? AT_REMOVEDIR : 0) == 0) continue;
    if (emptied && left != nullptr) left->push_back({path, "could not be deleted"});
    all = false;
  }
  return all;
}

}  // namespace

HeldDirectory CreateHeldDirectory(const std::string& path, const std::string& sddl) {
  HostState& state = State();
  state.events.push_back("mkdir:" + path + " " + sddl);
  if (state.beforeCreatingDirectory) state.beforeCreatingDirectory(path);
  // Mode 0700 stands for a descriptor that names no one but SYSTEM, administrators and the account.
  if (sddl.rfind("D:", 0) != 0 || mkdir(host::HostPath(path).c_str(), 0700) != 0) return HeldDirectory{};
  state.security.erase(host::HostPath(path));
  return HoldExisting(path);
}

HeldDirectory HoldTrustedDirectory(const std::string& path,
                                   const std::function<bool(const DirectorySecurity&)>& trusted) {
  if (KindOf(path) != PathKind::Directory || !trusted(SecurityOf(path))) return HeldDirectory{};
  return HoldExisting(path);
}

bool RemoveHeldDirectory(HeldDirectory directory, std::vector<LeftEntry>* left) {
  if (!directory) return false;
  auto* held = static_cast<HostHeldDirectory*>(directory.value);
  RemoveEntriesAt(held->descriptor, "", left);
  std::string current = CurrentPathOf(held->descriptor);
  bool removed = !current.empty() && rmdir(current.c_str()) == 0;
  State().events.push_back("remove-held:" + held->path);
  close(held->descriptor);
  delete held;
  return removed;
}

std::string HeldDirectoryIdentity(HeldDirectory directory) {
  struct stat status;
  if (!directory || fstat(static_cast<HostHeldDirectory*>(directory.value)->descriptor, &status) != 0) return "";
  return IdentityOf(status);
}

void ReleaseHeldDirectory(HeldDirectory directory) {
  if (!directory) return;
  auto* held = static_cast<HostHeldDirectory*>(directory.value);
  State().events.push_back("release-directory:" + held->path);
  close(held->descriptor);
  delete held;
}

bool PathExists(const std::string& path) {
  struct stat status;
  return stat(host::HostPath(path).c_str(), &status) == 0;
}

PathKind KindOf(const std::string& path) {
  struct stat status;
  if (lstat(host::HostPath(path).c_str(), &status) != 0) return PathKind::Missing;
  if (S_ISLNK(status.st_mode)) return PathKind::Link;
  return S_ISDIR(status.st_mode) ? PathKind::Directory : PathKind::File;
}

std::optional<std::string> ShortForm(const std::string& path) {
  if (!State().shortPathsAvailable || !PathExists(path)) return std::nullopt;
  auto known = State().shortPaths.find(path);
  return known != State().shortPaths.end() ? known->second : path;
}

std::string SystemDirectory() { return State().systemDirectory; }

std::string WindowsDirectory() { return State().windowsDirectory; }

std::string TemporaryDirectoryOfTheSystem() { return State().temporaryDirectoryOfTheSystem; }

std::optional<std::string> EnvironmentValue(const std::string& name) {
  for (const auto& entry : State().environment) {
    if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) return entry.second;
  }
  return std::nullopt;
}

bool RenamePath(const std::string& oldPath, const std::string& newPath) {
  HostState& state = State();
  state.events.push_back("rename:" + oldPath + " -> " + newPath);
  if (state.failRenaming || KindOf(newPath) != PathKind::Missing) return false;
  if (std::rename(host::HostPath(oldPath).c_str(), host::HostPath(newPath).c_str()) != 0) return false;
  // A security set by a test travels with its directory.
  auto moved = state.security.extract(host::HostPath(oldPath));
  state.security.erase(host::HostPath(newPath));
  if (moved) {
    moved.key() = host::HostPath(newPath);
    state.security.insert(std::move(moved));
  }
  return true;
}

unsigned long UniqueNumber() { return State().uniqueNumber; }

std::optional<unsigned long long> RandomNumber() { return State().randomNumber; }

bool HoldSystemWideLock(const std::string& name, const std::string& sddl) {
  State().events.push_back("lock:" + name + " " + sddl);
  const auto& elsewhere = State().locksHeldElsewhere;
  return std::find(elsewhere.begin(), elsewhere.end(), name) == elsewhere.end();
}

namespace {

// Opens path through open(2) with flags, with the injected failures for its name.
std::FILE* OpenWithFaults(const std::string& path, int flags, const char* mode, const char* event) {
  HostState& state = State();
  for (const std::string& suffix : state.failOpening) {
    if (EndsWith(path, suffix)) return nullptr;
  }
  bool forReading = mode[0] == 'r';
  state.events.push_back(event + path);
  int descriptor = open(host::HostPath(path).c_str(), flags, 0644);
  std::FILE* real = descriptor == -1 ? nullptr : fdopen(descriptor, mode);
  if (real == nullptr) {
    if (descriptor != -1) close(descriptor);
    return nullptr;
  }
  for (const auto& [suffix, bytes] : forReading ? state.failReading : state.failWriting) {
    if (EndsWith(path, suffix)) return OpenFaulty(real, bytes, forReading);
  }
  return real;
}

}  // namespace

std::FILE* OpenStream(const std::string& path, const char* mode) {
  bool forReading = mode[0] == 'r';
  int flags = forReading ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
  return OpenWithFaults(path, flags, mode, forReading ? "open-read:" : "open-write:");
}

std::FILE* CreateNewFile(const std::string& path) {
  return OpenWithFaults(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, "wb", "create-new:");
}

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  if (State().failReplacing) return false;
  return std::rename(host::HostPath(source).c_str(), host::HostPath(target).c_str()) == 0;
}

bool RemoveFileAt(const std::string& path) { return std::remove(host::HostPath(path).c_str()) == 0; }

StartResult StartProgram(const std::string& file, const std::optional<std::string>& parameters,
                         const std::string& workingDirectory, int showCommand, bool inJob) {
  HostState& state = State();
  host::StartedProgram program{file, parameters, workingDirectory, showCommand, inJob};
  state.started.push_back(program);
  state.events.push_back("start:" + file);
  for (const auto& [suffix, error] : state.startFailures) {
    if (EndsWith(file, suffix)) return StartResult{ProcessHandle{}, 0, error, JobHandle{}, 0};
  }
  // As on Windows, only a program that exists on disk starts.
  if (!PathExists(file)) return StartResult{ProcessHandle{}, 0, 2, JobHandle{}, 0};  // ERROR_FILE_NOT_FOUND
  StartedProcess& process = state.startedProcesses.emplace_back(StartedProcess{0, true});
  for (const auto& [suffix, exitCode] : state.exitCodes) {
    if (EndsWith(file, suffix)) process.exitCode = exitCode;
  }
  for (const std::string& suffix : state.runForever) {
    if (EndsWith(file, suffix)) process.ended = false;
  }
  StartResult result{ProcessHandle{&process}, state.nextProcessId++, 0, JobHandle{}, 0};
  if (inJob && state.jobError != 0) result.jobError = state.jobError;
  if (inJob && state.jobError == 0) {
    result.job = JobHandle{&process};
    state.events.push_back("job");
  }
  if (state.programEffect) state.programEffect(program);
  return result;
}

bool WaitForProcessEndWithin(ProcessHandle process, unsigned long long milliseconds) {
  State().events.push_back("wait-within:" + std::to_string(milliseconds));
  return static_cast<StartedProcess*>(process.value)->ended;
}

unsigned long ReleaseProcess(ProcessHandle process) {
  auto* started = static_cast<StartedProcess*>(process.value);
  return started->ended ? started->exitCode : 259;  // STILL_ACTIVE
}

unsigned long WaitForProcessEnd(ProcessHandle process) {
  State().events.push_back("wait");
  return ReleaseProcess(process);
}

bool EndJob(JobHandle job, unsigned long exitCode, unsigned long long milliseconds) {
  State().events.push_back("end-job:" + std::to_string(exitCode) + " within " + std::to_string(milliseconds));
  *static_cast<StartedProcess*>(job.value) = StartedProcess{exitCode, true};
  return true;
}

bool EndProcess(ProcessHandle process, unsigned long exitCode, unsigned long long milliseconds) {
  State().events.push_back("end-process:" + std::to_string(exitCode) + " within " + std::to_string(milliseconds));
  *static_cast<StartedProcess*>(process.value) = StartedProcess{exitCode, true};
  return true;
}

void ReleaseJob(JobHandle job) {
  if (job) State().events.push_back("release-job");
}

std::string SystemErrorText(unsigned long error) {
  // The few texts the tests meet, as Windows words them.
  switch (error) {
    case 2:
      return "The system cannot find the file specified.\r\n";
    case 5:
      return "Access is denied.\r\n";
    case 193:
      return "%1 is not a valid Win32 application.\r\n";
    case 1260:
      return "This program is blocked by group policy. For more information, contact your system "
             "administrator.\r\n";
    default:
      return "";
  }
}

std::optional<unsigned long long> FileSize(const std::string& path) {
  struct stat status;
  if (stat(host::HostPath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<unsigned long long>(status.st_size);
}

std::optional<unsigned long long> FileSizeBelow(const std::string& directory, const std::string& relativeName, bool) {
  return FileSize(directory + "\\" + relativeName);
}

std::string CommandLine() { return State().commandLine; }

unsigned long long Milliseconds() { return State().milliseconds; }

bool WriteEvent(const std::string& source, EventType type, unsigned id, const std::vector<std::string>& strings) {
  HostState& state = State();
  state.events.push_back("event:" + std::to_string(id));
  if (state.failWritingEvents) return false;
  state.writtenEvents.push_back(host::WrittenEvent{source, type, id, strings, state.account});
  return true;
}

void SleepMilliseconds(unsigned milliseconds) { State().events.push_back("sleep:" + std::to_string(milliseconds)); }

std::string OwnResource(const char* name) {
  auto found = State().resources.find(name);
  return found == State().resources.end() ? std::string() : found->second;
}

HeldFile HoldFileForReading(const std::string& path) {
  // The stand-in cannot keep others out; it records the hold, and injected faults apply. As on
  // Windows, a directory does not open as a file.
  std::FILE* file = KindOf(path) == PathKind::File ? OpenStream(path, "rb") : nullptr;
  if (file != nullptr) State().events.push_back("hold:" + path);
  return HeldFile{file};
}

std::string Sha256Of(HeldFile file, const std::optional<std::string>& copyTo, const ByteRange& range) {
  auto* stream = static_cast<std::FILE*>(file.value);
  if (stream == nullptr || fseeko(stream, static_cast<off_t>(range.offset), SEEK_SET) != 0) return "";
  std::FILE* copy = copyTo ? CreateNewFile(*copyTo) : nullptr;
  if (copyTo && copy == nullptr) return "";
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  char buffer[65536];
  unsigned long long left = range.length.value_or(~0ULL);
  std::size_t count;
  while (ok && left > 0 &&
         (count = std::fread(buffer, 1, std::min<unsigned long long>(sizeof buffer, left), stream)) > 0) {
    left -= count;
    ok = EVP_DigestUpdate(context, buffer, count) == 1 &&
         (copy == nullptr || std::fwrite(buffer, 1, count, copy) == count);
  }
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  ok = ok && !std::ferror(stream) && !(range.length && left > 0) && EVP_DigestFinal_ex(context, value, &size) == 1;
  EVP_MD_CTX_free(context);
  if (copy != nullptr) {
    ok = std::fclose(copy) == 0 && ok;
    if (!ok) RemoveFileAt(*copyTo);
  }
  return ok ? std::string(reinterpret_cast<const char*>(value), size) : "";
}

void ReleaseHeldFile(HeldFile file) {
  if (!file) return;
  std::fclose(static_cast<std::FILE*>(file.value));
  State().events.push_back("release");
}

void RestrictDllSearchToSystemDirectory() { State().events.push_back("dll-search:system"); }

LocalTime LocalTimeNow() { return State().localTime; }

std::string AccountName() { return State().accountName; }

unsigned long ProcessId() { return State().processId; }

namespace {

// A file opened for appending on the host: its descriptor, and the bytes it may take before an
// injected write failure.
struct HostAppendFile {
  int descriptor;
  std::size_t writable;
};

// Returns true when the folders of hostPath lead where they say, no link on the way: what the
// final path of a handle tells on Windows.
bool FoldersLeadWhereTheySay(const std::string& hostPath) {
  std::string folder = hostPath.substr(0, hostPath.rfind('/'));
  const std::string& root = State().root;
  char* realFolder = realpath(folder.c_str(), nullptr);
  char* realRoot = realpath(root.c_str(), nullptr);
  bool underRoot = folder.compare(0, root.size(), root) == 0;
  std::string expected = underRoot && realRoot != nullptr ? realRoot + folder.substr(root.size()) : folder;
  bool same = realFolder != nullptr && expected == realFolder;
  std::free(realFolder);
  std::free(realRoot);
  return same;
}

}  // namespace

AppendOpening OpenForAppending(const std::string& path, const std::string& sddl, AppendFile* file) {
  HostState& state = State();
  *file = AppendFile{};
  for (const std::string& suffix : state.failOpening) {
    if (EndsWith(path, suffix)) return AppendOpening::Failed;
  }
  std::string hostPath = host::HostPath(path);
  struct stat status;
  bool existed = lstat(hostPath.c_str(), &status) == 0;
  if (existed && S_ISLNK(status.st_mode)) return AppendOpening::Link;
  if (!FoldersLeadWhereTheySay(hostPath)) return AppendOpening::Link;
  int descriptor = open(hostPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
  if (descriptor == -1) return errno == ELOOP ? AppendOpening::Link : AppendOpening::Failed;
  if (fstat(descriptor, &status) != 0 || status.st_nlink > 1) {
    close(descriptor);
    return AppendOpening::Link;
  }
  state.events.push_back(existed ? "open-append:" + path : "create-append:" + path + " " + sddl);
  std::size_t writable = static_cast<std::size_t>(-1);
  for (const auto& [suffix, bytes] : state.failWriting) {
    if (EndsWith(path, suffix)) writable = bytes;
  }
  file->value = new HostAppendFile{descriptor, writable};
  return AppendOpening::Opened;
}

bool AppendTo(AppendFile file, const std::string& bytes) {
  auto* open = static_cast<HostAppendFile*>(file.value);
  if (open == nullptr) return false;
  std::size_t count = std::min(bytes.size(), open->writable);
  open->writable -= count;
  return write(open->descriptor, bytes.data(), count) == static_cast<ssize_t>(count) && count == bytes.size();
}

void CloseAppendFile(AppendFile file) {
  auto* open = static_cast<HostAppendFile*>(file.value);
  if (open == nullptr) return;
  close(open->descriptor);
  delete open;
}

bool RunsUnderWow64() { return State().underWow64; }

}  // namespace platform
