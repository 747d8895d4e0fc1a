/* The end-to-end tests' stand-in for the graphical installer. Each start appends what it was given
 * (command line, parameters, working directory, settings file path, the names in the expansion
 * directory and its security as read back) to installer-log.txt in its
 * working directory and keeps the settings file's bytes at that moment in installer-settings.bin.
 * A file stub-behaviour.txt in the working directory can make it "sleep MS", "exit N", "crash",
 * "readonly" (leave its settings file read-only) or "hold MS" (leave a process behind that holds
 * the settings file open, without delete sharing, for MS milliseconds). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
/* After <windows.h>, which it needs. */
#include <sddl.h>

#include "../../sample/installer/installer_command_line.h"

/* Names in the expansion directory, two folders above this program, so a test sees what the
 * directory held while the installer ran. */
static void LogExpansionRoot(FILE *log) {
  char pattern[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, pattern, MAX_PATH);
  for (int i = 0; i < 3 && length; ++i) {
    char *slash = strrchr(pattern, '\\');
    if (!slash) return;
    *slash = '\0';
  }
  lstrcatA(pattern, "\\*");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  fprintf(log, "expansion-root=");
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..")) fprintf(log, "%s;", found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  fprintf(log, "\n");
}

/* The owner and DACL of the expansion directory as the system reads them back, in SDDL. */
static void LogExpansionSecurity(FILE *log) {
  char root[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, root, MAX_PATH);
  for (int i = 0; i < 3 && length; ++i) {
    char *slash = strrchr(root, '\\');
    if (!slash) return;
    *slash = '\0';
  }
  char descriptor[4096];
  DWORD needed = 0;
  char *text = NULL;
  fprintf(log, "expansion-security=");
  if (GetFileSecurityA(root, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                       &needed) &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, NULL)) {
    fprintf(log, "%s", text);
    LocalFree(text);
  }
  fprintf(log, "\n");
}

static void CopySettings(const char *path) {
  FILE *in = fopen(path, "rb");
  FILE *out = fopen("installer-settings.bin", "wb");
  if (in && out) {
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, in)) > 0) fwrite(buffer, 1, count, out);
  }
  if (in) fclose(in);
  if (out) fclose(out);
}

/* The process that "hold" leaves behind: "--hold PATH MS". */
static int Hold(const char *path, int milliseconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  Sleep((DWORD)milliseconds);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 0;
}

static void LeaveHolder(const char *settingsPath, int milliseconds) {
  char program[MAX_PATH];
  char commandLine[3 * MAX_PATH];
  GetModuleFileNameA(NULL, program, MAX_PATH);
  snprintf(commandLine, sizeof commandLine, "\"%s\" --hold \"%s\" %d", program, settingsPath, milliseconds);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    Sleep(500); /* until the holder has opened the file */
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

static int Behave(const char *settingsPath) {
  char action[64] = "";
  int value = 0;
  FILE *behaviour = fopen("stub-behaviour.txt", "rb");
  if (!behaviour) return 0;
  if (fscanf(behaviour, "%63s %d", action, &value) < 1) action[0] = '\0';
  fclose(behaviour);
  if (strcmp(action, "sleep") == 0) Sleep((DWORD)value);
  if (strcmp(action, "readonly") == 0) SetFileAttributesA(settingsPath, FILE_ATTRIBUTE_READONLY);
  if (strcmp(action, "hold") == 0) LeaveHolder(settingsPath, value);
  if (strcmp(action, "exit") == 0) return value;
  if (strcmp(action, "crash") == 0) {
    volatile int *nowhere = NULL;
    *nowhere = 1;
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "--hold") == 0) return Hold(argv[2], atoi(argv[3]));
  const char *commandLine = GetCommandLineA();
  const char *parameters = SkipProgramName(commandLine);
  char directory[MAX_PATH] = "";
  char settingsPath[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, directory);
  FindSettingsFile(parameters, settingsPath, MAX_PATH);

  FILE *log = fopen("installer-log.txt", "ab");
  if (log) {
    fprintf(log, "build=%s\n", sizeof(void *) == 8 ? "x64" : "x86");
    fprintf(log, "command-line=%s\n", commandLine);
    fprintf(log, "parameters=%s\n", parameters);
    fprintf(log, "directory=%s\n", directory);
    fprintf(log, "settings=%s\n", settingsPath);
    LogExpansionRoot(log);
    LogExpansionSecurity(log);
    fprintf(log, "end\n");
    fclose(log);
  }
  CopySettings(settingsPath);
  return Behave(settingsPath);
}
