/* The end-to-end tests' stand-in for the graphical installer. Each start appends what it was given
 * (command line, parameters, working directory as given and in its long form, the window state it was started in,
 * settings file path, the names in the expansion directory and its security as read back) to installer-log.txt in its
 * working directory and keeps the settings file's bytes at that moment in installer-settings.bin. A file
 * stub-behaviour.txt in the working directory can make it "exit N", "crash", "readonly" (leave its settings file
 * read-only), "wait N" (run until the test creates stub-release.txt there, then end with N, 0 without), "hold" (leave
 * a process behind that holds the settings file open, without delete sharing, until stub-release.txt exists; it
 * creates holder-ready.txt once it holds the file and holder-done.txt once it has let go) or "hang" (start a copy of
 * itself that never ends, then never end either). */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
/* After <windows.h>, which it needs. */
#include <sddl.h>

#include "../../sample/installer/installer_command_line.h"

/* The expansion directory, three levels above this program, as wide text: the narrow forms of a
 * folder the code page cannot spell hold "?". */
static int ExpansionRoot(wchar_t* root) {
  DWORD length = GetModuleFileNameW(NULL, root, MAX_PATH);
  for (int i = 0; i < 3 && length; ++i) {
    wchar_t* slash = wcsrchr(root, L'\\');
    if (!slash) return 0;
    *slash = L'\0';
  }
  return length != 0;
}

/* Names in the expansion directory (in UTF-8), so a test sees what it held while the installer ran. */
static void LogExpansionRoot(FILE* log) {
  wchar_t pattern[MAX_PATH + 2];
  fprintf(log, "expansion-root=");
  if (ExpansionRoot(pattern)) {
    lstrcatW(pattern, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        char name[4 * MAX_PATH];
        WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, sizeof name, NULL, NULL);
        if (strcmp(name, ".") && strcmp(name, "..")) fprintf(log, "%s;", name);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  fprintf(log, "\n");
}

/* The working directory's long form in UTF-8: the folder itself, whatever the code page spells. */
static void LogLongDirectory(FILE* log) {
  wchar_t directory[MAX_PATH];
  wchar_t longDirectory[MAX_PATH];
  char text[4 * MAX_PATH] = "";
  if (GetCurrentDirectoryW(MAX_PATH, directory) && GetLongPathNameW(directory, longDirectory, MAX_PATH)) {
    WideCharToMultiByte(CP_UTF8, 0, longDirectory, -1, text, sizeof text, NULL, NULL);
  }
  fprintf(log, "directory-long=%s\n", text);
}

/* The owner and DACL of the expansion directory as the system reads them back, in SDDL. */
static void LogExpansionSecurity(FILE* log) {
  wchar_t root[MAX_PATH];
  if (!ExpansionRoot(root)) return;
  char descriptor[4096];
  DWORD needed = 0;
  char* text = NULL;
  fprintf(log, "expansion-security=");
  if (GetFileSecurityW(root, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                       &needed) &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, NULL)) {
    fprintf(log, "%s", text);
    LocalFree(text);
  }
  fprintf(log, "\n");
}

static void CopySettings(const char* path) {
  FILE* in = fopen(path, "rb");
  FILE* out = fopen("installer-settings.bin", "wb");
  if (in && out) {
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, in)) > 0) fwrite(buffer, 1, count, out);
  }
  if (in) fclose(in);
  if (out) fclose(out);
}

/* Waits for a file that another process creates: the tests' way of saying that a state is reached. */
static void WaitForFile(const char* path) {
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) Sleep(10);
}

static void CreateMarker(const char* path) {
  FILE* marker = fopen(path, "wb");
  if (marker) fclose(marker);
}

/* The process that "hold" leaves behind: "--hold PATH". */
static int Hold(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  CreateMarker("holder-ready.txt");
  WaitForFile("stub-release.txt");
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  CreateMarker("holder-done.txt");
  return 0;
}

static void LeaveHolder(const char* settingsPath) {
  char program[MAX_PATH];
  char commandLine[3 * MAX_PATH];
  GetModuleFileNameA(NULL, program, MAX_PATH);
  snprintf(commandLine, sizeof commandLine, "\"%s\" --hold \"%s\"", program, settingsPath);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    WaitForFile("holder-ready.txt");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

/* "hang": a child that never ends, started before its parent hangs too. */
static void Hang(void) {
  char program[MAX_PATH];
  char commandLine[MAX_PATH + 32];
  GetModuleFileNameA(NULL, program, MAX_PATH);
  snprintf(commandLine, sizeof commandLine, "\"%s\" --hang-child", program);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
  Sleep(INFINITE);
}

/* "wait": ends when the test says so, whatever the machine's speed. */
static int Behave(const char* settingsPath) {
  char action[64] = "";
  int value = 0;
  FILE* behaviour = fopen("stub-behaviour.txt", "rb");
  if (!behaviour) return 0;
  if (fscanf(behaviour, "%63s %d", action, &value) < 1) action[0] = '\0';
  fclose(behaviour);
  if (strcmp(action, "wait") == 0) WaitForFile("stub-release.txt");
  if (strcmp(action, "readonly") == 0) SetFileAttributesA(settingsPath, FILE_ATTRIBUTE_READONLY);
  if (strcmp(action, "hold") == 0) LeaveHolder(settingsPath);
  if (strcmp(action, "hang") == 0) Hang();
  if (strcmp(action, "exit") == 0 || strcmp(action, "wait") == 0) return value;
  if (strcmp(action, "crash") == 0) {
    volatile int* nowhere = NULL;
    *nowhere = 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--hold") == 0) return Hold(argv[2]);
  if (argc == 2 && strcmp(argv[1], "--hang-child") == 0) Sleep(INFINITE);
  const char* commandLine = GetCommandLineA();
  const char* parameters = SkipProgramName(commandLine);
  char directory[MAX_PATH] = "";
  char settingsPath[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, directory);
  FindSettingsFile(parameters, settingsPath, MAX_PATH);

  FILE* log = fopen("installer-log.txt", "ab");
  if (log) {
    fprintf(log, "build=%s\n", sizeof(void*) == 8 ? "x64" : "x86");
    fprintf(log, "command-line=%s\n", commandLine);
    fprintf(log, "parameters=%s\n", parameters);
    fprintf(log, "directory=%s\n", directory);
    LogLongDirectory(log);
    /* The show command its starter asked for, as the first window would get it. */
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW) {
      fprintf(log, "show=%u\n", (unsigned)startup.wShowWindow);
    } else {
      fprintf(log, "show=default\n");
    }
    fprintf(log, "settings=%s\n", settingsPath);
    LogExpansionRoot(log);
    LogExpansionSecurity(log);
    fprintf(log, "end\n");
    fclose(log);
  }
  CopySettings(settingsPath);
  return Behave(settingsPath);
}
