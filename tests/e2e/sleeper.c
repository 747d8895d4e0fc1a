/* A long-running program of the tests' own; copied under the launcher's file name it stands for a
 * first copy of the launcher. Sleeps for the seconds given (default 60). */
#include <windows.h>

#include <stdlib.h>

int main(int argc, char** argv) {
  Sleep((DWORD)(argc > 1 ? atoi(argv[1]) : 60) * 1000u);
  return 0;
}
