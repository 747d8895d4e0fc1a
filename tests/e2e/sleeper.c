/* A long-running program of the tests' own; copied under the launcher's file name it stands for a
 * first copy of the launcher.
 *   sleeper READYFILE RELEASEFILE
 * creates READYFILE once it runs, and runs until RELEASEFILE exists. */
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  FILE* ready = fopen(argv[1], "wb");
  if (!ready) return 2;
  fclose(ready);
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) Sleep(10);
  return 0;
}
