/* A program that the platform tests start: it writes what it was started with (its command line,
 * working directory and show state) to observed.txt in its working directory, and ends with the
 * exit code N that a parameter "/exit:N" names (0 without one). With "/hang" it starts a copy of
 * itself with "/hang-child", which hangs, writes that copy's process id to child.txt and hangs. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int HangWithChild(void) {
  char self[MAX_PATH];
  char commandLine[MAX_PATH + 32];
  GetModuleFileNameA(NULL, self, MAX_PATH);
  snprintf(commandLine, sizeof commandLine, "\"%s\" /hang-child", self);
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    FILE* named = fopen("child.txt.tmp", "wb");
    if (named) {
      fprintf(named, "%lu\n", process.dwProcessId);
      fclose(named);
      MoveFileA("child.txt.tmp", "child.txt");
    }
  }
  Sleep(INFINITE);
  return 0;
}

int main(void) {
  if (strstr(GetCommandLineA(), "/hang-child")) Sleep(INFINITE);
  if (strstr(GetCommandLineA(), "/hang")) return HangWithChild();
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, directory);
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  FILE* out = fopen("observed.txt", "wb");
  if (!out) return 1;
  fprintf(out, "command-line=%s\n", GetCommandLineA());
  fprintf(out, "directory=%s\n", directory);
  fprintf(out, "show=%d\n", (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1);
  fclose(out);
  const char* exit = strstr(GetCommandLineA(), "/exit:");
  ExitProcess(exit ? (UINT)strtoul(exit + 6, NULL, 0) : 0);
}
