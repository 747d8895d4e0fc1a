#include "workspace/package_binding.h"

#include <cstdio>

std::string PrivateCabinetPath(const std::string& expansionDirectory, unsigned long number) {
  char name[32];
  std::snprintf(name, sizeof name, "\\package-%08lx.cab", number & 0xFFFFFFFFUL);
  return expansionDirectory + name;
}

std::string CopyMatchingCabinet(const HeldCabinet& held, const platform::PackageBinding& binding,
                                const std::string& copyPath, std::string* digest) {
  *digest = platform::Sha256Of(held.File(), copyPath);
  if (digest->empty()) {
    return "Unable to use the temporary directory: the package cabinet could not be read and copied into it whole.";
  }
  if (*digest == binding.digest) return "";
  platform::RemoveFileAt(copyPath);
  return "The package cabinet does not match this launcher.";
}
