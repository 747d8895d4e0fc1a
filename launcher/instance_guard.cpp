#include "launcher/instance_guard.h"

#include "platform/platform.h"

bool IsAnotherInstanceRunning(const std::string& launcherFileName) {
  // The list holds the launcher itself, so one match means it is alone; the walk stops at the
  // second. Names are compared byte for byte, letter case included.
  int matches = 0;
  platform::VisitProcessNames([&](const std::string& name) {
    if (name == launcherFileName) ++matches;
    return matches < 2;
  });
  return matches > 1;
}
