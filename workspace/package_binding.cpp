#include "workspace/package_binding.h"

bool PackageCabinetMatches(const std::string& cabinetPath, HeldCabinet* held, std::string* digest) {
  platform::PackageBinding binding = platform::ReadPackageBinding();
  if (!binding.bound) return true;
  platform::HeldFile file = platform::HoldFileForReading(cabinetPath);
  held->Hold(file);
  // An empty digest (an unreadable cabinet) never equals the 32 bytes of a binding.
  *digest = file ? platform::Sha256Of(file) : "";
  return *digest == binding.digest;
}
