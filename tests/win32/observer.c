/* A program that the platform tests start through the shell: it writes what it was started with
 * (its command line, working directory and show state) to observed.txt in its working directory,
 * and ends with the exit code N that a parameter "/exit:N" names (0 without one). */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
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
