// Times the package binding's check on one cabinet under Wine: the launcher's own hold and hash
// (the system's SHA-256), as a bound launcher runs them before it creates anything.
//   hash_time CABINET   prints the seconds the check took
#include <windows.h>

#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  platform::HeldFile cabinet = platform::HoldFileForReading(argv[1]);
  std::string digest = platform::Sha256Of(cabinet);
  platform::ReleaseHeldFile(cabinet);
  QueryPerformanceCounter(&end);
  if (digest.size() != 32) return 1;
  std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
  return 0;
}
