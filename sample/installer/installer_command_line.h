/* What a package's graphical installer reads from its start: the parameters after its own name,
 * and the settings file they point it at. Shared by the sample installer and the tests' recording
 * installer. */
#pragma once
#include <windows.h>

#include <string.h>

/* Returns the text after the program's own (possibly quoted) name and the blanks after it. */
static const char* SkipProgramName(const char* commandLine) {
  if (*commandLine == '"') {
    const char* end = strchr(commandLine + 1, '"');
    commandLine = end ? end + 1 : commandLine + strlen(commandLine);
  } else {
    while (*commandLine && *commandLine != ' ' && *commandLine != '\t') ++commandLine;
  }
  while (*commandLine == ' ' || *commandLine == '\t') ++commandLine;
  return commandLine;
}

/* The settings file: the path after "/I:", else component.isf one folder above this program
 * (the package's install folder, for a start without "/I:"). */
static void FindSettingsFile(const char* parameters, char* path, DWORD size) {
  if (strncmp(parameters, "/I:", 3) == 0) {
    lstrcpynA(path, parameters + 3, (int)size);
    return;
  }
  DWORD length = GetModuleFileNameA(NULL, path, size);
  char* slash = length ? strrchr(path, '\\') : NULL;
  if (slash) *slash = '\0';
  slash = strrchr(path, '\\');
  if (slash) lstrcpynA(slash, "\\component.isf", (int)(size - (DWORD)(slash - path)));
}
