#include "settings/reader.h"

#include <cstdio>

#include "common/package_layout.h"
#include "platform/platform.h"
#include "settings/line_reader.h"
#include "workspace/expansion_directory.h"

std::string SettingsFilePath() { return ExpansionDirectory() + "\\" + package::kSettingsFile; }

bool SettingsFileHasLine(const std::string& key, const std::string& path) {
  if (key.empty()) return false;
  std::FILE* file = platform::OpenStream(path, "rb");
  if (file == nullptr) return false;
  LineReader reader(file);
  bool found = false;
  bool equal = false;
  while (!found && reader.NextEquals(key, &equal)) found = equal;
  std::fclose(file);
  return found;
}
