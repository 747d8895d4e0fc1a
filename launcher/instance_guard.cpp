#include "launcher/instance_guard.h"

#include "platform/platform.h"

bool IsAnotherInstanceRunning(const std::string& launcherFileName) {
  // The list holds the launcher itself, so one match means it is alone; the walk stops at the
  // second. Names are compared byte for byte, letter case included. The launcher always runs
  // elevated or as SYSTEM: a standard user's program of the same name is no copy of it.
  int matches = 0;
  platform::VisitProcesses([&](const platform::ProcessEntry& process) {
    if (process.name == launcherFileName && platform::RunsElevatedOrAsSystem(process.id)) ++matches;
    return matches < 2;
  });
  return matches > 1;
}
