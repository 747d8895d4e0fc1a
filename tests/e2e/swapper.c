/* An attacker of the tests' own: waits until TARGET is held open against writers (the launcher
 * checks and expands it), then tries to put REPLACEMENT in its place while the hold lasts, as a
 * standard user with write access to the package's folder would.
 *   swapper TARGET REPLACEMENT REPORTFILE
 * It creates REPORTFILE.ready once it watches, and stops watching once REPORTFILE.stop exists.
 * REPORTFILE gets "held=1|0 attempts=N replaced=1|0": whether the hold was seen, how many
 * replacements were tried while it lasted, and whether one went through (once it had ended). */
#include <windows.h>

#include <stdio.h>

static int IsHeld(const char* target) {
  HANDLE probe = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, 0, NULL);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return 0;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

static int Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* target = argv[1];
  char staged[MAX_PATH];
  char ready[MAX_PATH];
  char stop[MAX_PATH];
  snprintf(staged, sizeof staged, "%s.swap", argv[2]);
  snprintf(ready, sizeof ready, "%s.ready", argv[3]);
  snprintf(stop, sizeof stop, "%s.stop", argv[3]);
  int held = 0;
  int attempts = 0;
  int replaced = 0;
  FILE* marker = fopen(ready, "wb");
  if (!marker) return 2;
  fclose(marker);
  while (!held && !Exists(stop)) {
    held = IsHeld(target);
    if (!held) Sleep(1);
  }
  while (held) {
    CopyFileA(argv[2], staged, FALSE);
    ++attempts;
    if (MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING)) {
      replaced = 1;
      break;
    }
    if (!IsHeld(target)) break;
    Sleep(1);
  }
  FILE* report = fopen(argv[3], "wb");
  if (!report) return 2;
  fprintf(report, "held=%d attempts=%d replaced=%d\n", held, attempts, replaced);
  fclose(report);
  return 0;
}
