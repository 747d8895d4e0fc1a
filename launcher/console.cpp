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
  platform::ReadStandardInputCharacter();
}
