/* The sample package's graphical installer. Instead of installing a driver it writes a report of
 * what the launcher gave it (its parameters, its working directory and the settings file it was
 * pointed at, byte for byte) to InstallGui-report.txt in its working directory. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "installer_command_line.h"

int main(void) {
  const char* parameters = SkipProgramName(GetCommandLineA());
  char directory[MAX_PATH] = "";
  char settingsPath[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, directory);
  FindSettingsFile(parameters, settingsPath, MAX_PATH);

  FILE* report = fopen("InstallGui-report.txt", "wb");
  if (!report) return 1;
  fprintf(report, "Sample installer (%s build)\r\n", sizeof(void*) == 8 ? "x64" : "x86");
  fprintf(report, "Parameters:        %s\r\n", *parameters ? parameters : "(none)");
  fprintf(report, "Working directory: %s\r\n", directory);
  fprintf(report, "Settings file:     %s\r\n", settingsPath);
  fprintf(report, "---- settings file as received ----\r\n");
  FILE* settings = fopen(settingsPath, "rb");
  if (settings) {
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, settings)) > 0) fwrite(buffer, 1, count, report);
    fclose(settings);
  } else {
    fprintf(report, "(not found)\r\n");
  }
  fprintf(report, "---- end ----\r\n");
  fclose(report);
  return 0;
}
