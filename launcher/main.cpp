#include "launcher/run_sequence.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Before anything can load a DLL by name: the launcher's own folder may be a download folder
  // that holds whatever a web page dropped there.
  platform::RestrictDllSearchToSystemDirectory();
  return RunLauncher(argc, argv);
}
