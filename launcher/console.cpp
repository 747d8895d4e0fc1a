#include "launcher/console.h"

#include "platform/platform.h"

void PrintLine(const std::string& text) {
  platform::WriteStandardOutput(text);
  platform::WriteStandardOutput("\n");
  // Windows does not flush a console stream at a line end, and lines must show while hidden.
  platform::FlushStandardOutput();
}

void WaitForEnter() {
  PrintLine("Press ENTER to continue");
  // In session 0 or a network logon standard input is a console nobody types into: the read
  // would never return, and the deployment tool would wait for its time-out, not the exit code.
  if (platform::RunsWhereAPersonSees()) platform::ReadStandardInputCharacter();
}
