// The real Win32 calls behind platform.h. The only file that includes <windows.h>.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace platform {

void ShowConsoleWindow(int showCommand) { ShowWindow(GetConsoleWindow(), showCommand); }

void BringConsoleWindowToForeground() {
  HWND window = GetConsoleWindow();
  if (window != nullptr) SetForegroundWindow(window);
}

void WriteStandardOutput(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void FlushStandardOutput() { std::fflush(stdout); }

int ReadStandardInputCharacter() { return std::getchar(); }

bool ListProcessNames(std::vector<std::string>* names) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  // A failed first read leaves nothing that came from the system: the list stays empty.
  if (Process32First(snapshot, &entry)) {
    do {
      names->push_back(entry.szExeFile);
    } while (Process32Next(snapshot, &entry));
  }
  CloseHandle(snapshot);
  return true;
}

std::string ExecutablePath() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  // A result of MAX_PATH means the path was cut; a cut path names some other file.
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsLinkOrJunction(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

unsigned long ShortPathName(const std::string& path, char* buffer, unsigned long size) {
  return GetShortPathNameA(path.c_str(), buffer, size);
}

std::string SystemDirectory() {
  char buffer[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  // The C runtime matches names without regard to case on Windows.
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool MakeDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

std::FILE* OpenStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

ProcessHandle StartThroughShell(const std::string& file, const std::optional<std::string>& parameters,
                                const std::string& workingDirectory, int showCommand) {
  SHELLEXECUTEINFOA request;
  std::memset(&request, 0, sizeof request);
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOCLOSEPROCESS;
  request.lpFile = file.c_str();
  request.lpParameters = parameters ? parameters->c_str() : nullptr;
  request.lpDirectory = workingDirectory.c_str();
  request.nShow = showCommand;
  ShellExecuteExA(&request);
  return ProcessHandle{request.hProcess};
}

void WaitForProcessEnd(ProcessHandle process) {
  WaitForSingleObject(process.value, INFINITE);
  CloseHandle(process.value);
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

bool RunsUnderWow64() {
  // Looked up at run time, so that the launcher still starts on a kernel32 without it.
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL underWow64 = FALSE;
  HMODULE kernel = GetModuleHandleA("kernel32");
  FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
  if (address != nullptr) {
    reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(address))(GetCurrentProcess(), &underWow64);
  }
  return underWow64 != FALSE;
}

}  // namespace platform
