#include "workspace/package_binding.h"

#include <cstdio>

#include "common/package_layout.h"

namespace {

constexpr std::size_t kStateAt = PACKAGE_BINDING_MAGIC_SIZE;
constexpr std::size_t kDigestAt = kStateAt + 4;

}  // namespace

PackageBinding ReadPackageBinding() {
  std::string region = platform::OwnResource(package::kBindingResource);
  PackageBinding binding;
  if (region.size() < PACKAGE_BINDING_SIZE || region.compare(0, kStateAt, PACKAGE_BINDING_MAGIC) != 0) return binding;
  binding.bound = region.compare(kStateAt, 4, std::string(4, '\0')) != 0;
  if (binding.bound) binding.digest = region.substr(kDigestAt, PACKAGE_BINDING_DIGEST_SIZE);
  return binding;
}

std::string BoundRegion(const std::string& digest) {
  return std::string(PACKAGE_BINDING_MAGIC) + std::string("\1\0\0\0", 4) + digest;
}

std::string PrivateCabinetPath(const std::string& expansionDirectory, unsigned long number) {
  char name[32];
  std::snprintf(name, sizeof name, "\\package-%08lx.cab", number & 0xFFFFFFFFUL);
  return expansionDirectory + name;
}

std::string CopyMatchingCabinet(const HeldCabinet& held, const PackageBinding& binding, const std::string& copyPath,
                                std::string* digest) {
  *digest = platform::Sha256Of(held.File(), copyPath);
  if (digest->empty()) {
    return "Unable to use the temporary directory: the package cabinet could not be read and copied into it whole.";
  }
  if (*digest == binding.digest) return "";
  platform::RemoveFileAt(copyPath);
  return "The package cabinet does not match this launcher.";
}
