/* Starts the launcher the way a Windows parent would, so that TEMP reaches it (Wine overrides TEMP
 * from the Unix environment for programs it starts itself).
 *   run_launcher EXITFILE SPECFILE
 * SPECFILE holds lines "set NAME=VALUE", "unset NAME" and one "run COMMANDLINE", taken byte for
 * byte. The launcher's full 32-bit exit code is written to EXITFILE in hexadecimal, so that a
 * crash (0xC0000005) is not read as a small exit code. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static char spec[65536];

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: run_launcher EXITFILE SPECFILE\n");
    return 2;
  }
  FILE *file = fopen(argv[2], "rb");
  if (!file) return 2;
  size_t length = fread(spec, 1, sizeof spec - 1, file);
  fclose(file);
  spec[length] = '\0';

  char *commandLine = NULL;
  for (char *line = strtok(spec, "\n"); line; line = strtok(NULL, "\n")) {
    if (strncmp(line, "set ", 4) == 0) {
      char *equals = strchr(line + 4, '=');
      if (!equals) return 2;
      *equals = '\0';
      SetEnvironmentVariableA(line + 4, equals + 1);
    } else if (strncmp(line, "unset ", 6) == 0) {
      SetEnvironmentVariableA(line + 6, NULL);
    } else if (strncmp(line, "run ", 4) == 0) {
      commandLine = line + 4;
    }
  }
  if (!commandLine) return 2;

  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "run_launcher: cannot start: error %lu\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  FILE *out = fopen(argv[1], "wb");
  if (!out) return 2;
  fprintf(out, "0x%08lx\n", exitCode);
  fclose(out);
  return 0;
}
