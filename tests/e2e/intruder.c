/* The attacks of the tests' own that need a Windows program:
 *   intruder squat DIR READY STOP    makes DIR with a file in it, holds it without delete sharing,
 *                                    writes READY, and lets go once STOP exists
 *   intruder probe DIR FROM TO REPORT
 *                                    once DIR is held against deletion, probes it with DELETE opens
 *                                    until the hold ends, then renames FROM to TO, trying until it
 *                                    goes; REPORT says "probing", "held", then "released moved=1|0" */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static void Write(const char* path, const char* text) {
  FILE* file = fopen(path, "wb");
  if (file) fputs(text, file), fclose(file);
}

static void AwaitFile(const char* path) {
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) Sleep(10);
}

static int Held(const char* directory) {
  HANDLE probe = CreateFileA(directory, DELETE, 7, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  return probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

int main(int argc, char** argv) {
  char path[MAX_PATH];
  if (argc == 5 && strcmp(argv[1], "squat") == 0 && CreateDirectoryA(argv[2], NULL)) {
    snprintf(path, sizeof path, "%s\\mine.txt", argv[2]);
    Write(path, "the squatter's");
    HANDLE held = CreateFileA(argv[2], FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    Write(argv[3], "");
    AwaitFile(argv[4]);
    return held == INVALID_HANDLE_VALUE;
  }
  if (argc == 6 && strcmp(argv[1], "probe") == 0) {
    Write(argv[5], "probing\n");
    while (!Held(argv[2])) Sleep(1);
    Write(argv[5], "held\n");
    while (Held(argv[2])) {
    }
    int moved = 0;
    for (int attempt = 0; attempt < 10000 && !moved; ++attempt) moved = MoveFileExA(argv[3], argv[4], 0) != 0;
    Write(argv[5], moved ? "released moved=1\n" : "released moved=0\n");
    return 0;
  }
  fprintf(stderr, "usage: intruder squat DIR READY STOP | probe DIR FROM TO REPORT\n");
  return 2;
}
