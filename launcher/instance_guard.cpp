#include "launcher/instance_guard.h"

#include <vector>

#include "platform/platform.h"

bool IsAnotherInstanceRunning(const std::string& launcherFileName) {
  std::vector<std::string> names;
  if (!platform::ListProcessNames(&names)) return false;
  // The list holds the launcher itself, so one match means it is alone. Names are compared
  // byte for byte, letter case included.
  int matches = 0;
  for (const std::string& name : names) {
    if (name == launcherFileName && ++matches > 1) return true;
  }
  return false;
}
