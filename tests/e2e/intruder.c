/* The attacks of the tests' own that need a Windows program, each run as the user that the README's
 * threat model names:
 *   intruder squat DIR READY STOP   creates DIR with a file in it and holds it open without delete
 *                                   sharing (as a standard user may in C:\Windows\Temp), writes
 *                                   READY, and lets go once STOP exists
 *   intruder standard READY STOP PROGRAM
 *                                   starts PROGRAM with the limited token of the user's linked
 *                                   token (a standard user's program), writes READY, and ends it
 *                                   once STOP exists
 *   intruder probe DIR FROM TO REPORT
 *                                   waits until DIR is held against deletion, probes with a DELETE
 *                                   open until the hold ends, then at once renames the folder FROM
 *                                   to TO (the folder above DIR, as its owner may); REPORT says
 *                                   "probing", then "held", then "released probes=N moved=1|0" */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

static void Touch(const char* path) {
  FILE* file = fopen(path, "wb");
  if (file) fclose(file);
}

static int Squat(const char* directory, const char* ready, const char* stop) {
  char inside[MAX_PATH];
  snprintf(inside, sizeof inside, "%s\\mine.txt", directory);
  if (!CreateDirectoryA(directory, NULL)) return 1;
  FILE* file = fopen(inside, "wb");
  if (file) {
    fputs("the squatter's", file);
    fclose(file);
  }
  HANDLE held = CreateFileA(directory, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (held == INVALID_HANDLE_VALUE) return 1;
  Touch(ready);
  while (!Exists(stop)) Sleep(10);
  CloseHandle(held);
  return 0;
}

static int Standard(const char* ready, const char* stop, char* commandLine) {
  HANDLE token = NULL;
  TOKEN_LINKED_TOKEN linked = {0};
  HANDLE primary = NULL;
  DWORD size = 0;
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
      !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) ||
      !DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary, &primary) ||
      !CreateProcessAsUserA(primary, NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    return 1;
  }
  Touch(ready);
  while (!Exists(stop)) Sleep(10);
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, INFINITE);
  return 0;
}

static int IsHeldAgainstDeletion(const char* directory) {
  HANDLE probe = CreateFileA(directory, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return 0;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

static int Report(const char* path, const char* text) {
  FILE* report = fopen(path, "wb");
  if (!report) return 2;
  fputs(text, report);
  fclose(report);
  return 0;
}

static int Probe(const char* directory, const char* from, const char* to, const char* reportPath) {
  char text[64];
  int probes = 0;
  Report(reportPath, "probing\n");
  while (!IsHeldAgainstDeletion(directory)) Sleep(1);
  Report(reportPath, "held\n");
  while (IsHeldAgainstDeletion(directory)) ++probes;
  /* An attacker tries again while something keeps the folder from being renamed. */
  int moved = 0;
  for (int attempt = 0; attempt < 10000 && !moved; ++attempt) moved = MoveFileExA(from, to, 0) != 0;
  snprintf(text, sizeof text, "released probes=%d moved=%d\n", probes, moved);
  return Report(reportPath, text);
}

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "squat") == 0) return Squat(argv[2], argv[3], argv[4]);
  if (argc == 5 && strcmp(argv[1], "standard") == 0) return Standard(argv[2], argv[3], argv[4]);
  if (argc == 6 && strcmp(argv[1], "probe") == 0) return Probe(argv[2], argv[3], argv[4], argv[5]);
  fprintf(stderr, "usage: intruder squat DIR READY STOP | standard READY STOP PROGRAM | probe DIR FROM TO REPORT\n");
  return 2;
}
