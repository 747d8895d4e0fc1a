// Times the run log under Wine: opening it as a run does (its folders checked, the file opened for
// appending and checked, the account looked up) and appending as many entries as a whole run of
// the launcher writes, each with its own clock reading and write.
//   log_time LOG ENTRIES   prints the seconds the opening and the entries took
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/run_log.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int entries = std::atoi(argv[2]);
  // As long as a run's longest entries: a program's start with its full path and parameters.
  const std::string text(200, 'x');
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!OpenRunLog(argv[1]).empty()) return 1;
  for (int i = 0; i < entries; ++i) LogInformation(text);
  bool written = RunLogIsOpen();
  CloseRunLog();
  QueryPerformanceCounter(&end);
  if (!written) return 1;
  std::printf("%.4f\n", static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
  return 0;
}
