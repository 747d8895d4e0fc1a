#include "workspace/package_binding.h"

#include <algorithm>
#include <cstdio>

#include "common/little_endian.h"
#include "common/package_layout.h"
#include "workspace/cabinet_format.h"

namespace {

constexpr std::size_t kStateAt = PACKAGE_BINDING_MAGIC_SIZE;
constexpr std::size_t kDigestAt = kStateAt + 4;
constexpr std::size_t kExtentAt = kDigestAt + PACKAGE_BINDING_DIGEST_SIZE;

// Where each of the identity's fields starts, and its size.
struct IdentityField {
  std::size_t at;
  std::size_t size;
  std::string PackageIdentity::*text;
};
constexpr IdentityField kIdentityFields[] = {
    {PACKAGE_BINDING_CARRIED_SIZE, PACKAGE_IDENTITY_NAME_FIELD, &PackageIdentity::product},
    {PACKAGE_BINDING_CARRIED_SIZE + PACKAGE_IDENTITY_NAME_FIELD, PACKAGE_IDENTITY_VERSION_FIELD,
     &PackageIdentity::version},
    {PACKAGE_BINDING_CARRIED_SIZE + PACKAGE_IDENTITY_NAME_FIELD + PACKAGE_IDENTITY_VERSION_FIELD,
     PACKAGE_IDENTITY_NAME_FIELD, &PackageIdentity::company},
};

unsigned long Little32(const std::string& bytes, std::size_t at) { return ReadLittle(bytes, at, 4); }

PackageIdentity IdentityIn(const std::string& region) {
  PackageIdentity identity;
  if (region.size() < PACKAGE_BINDING_IDENTITY_SIZE) return identity;
  for (const IdentityField& field : kIdentityFields) {
    std::size_t end = region.find('\0', field.at);
    // A field without its zero is damaged: no part of the identity is trusted then.
    if (end >= field.at + field.size) return PackageIdentity();
    identity.*field.text = region.substr(field.at, end - field.at);
  }
  return identity;
}

}  // namespace

PackageBinding ReadPackageBinding() {
  std::string region = platform::OwnResource(package::kBindingResource);
  PackageBinding binding;
  if (region.size() < PACKAGE_BINDING_SIZE || region.compare(0, kStateAt, PACKAGE_BINDING_MAGIC) != 0) return binding;
  binding.identity = IdentityIn(region);
  binding.bound = region.compare(kStateAt, 4, std::string(4, '\0')) != 0;
  if (binding.bound) binding.digest = region.substr(kDigestAt, PACKAGE_BINDING_DIGEST_SIZE);
  if (Little32(region, kStateAt) == PACKAGE_BINDING_STATE_CARRIED && region.size() >= PACKAGE_BINDING_CARRIED_SIZE) {
    binding.carried = true;
    binding.carriedOffset = Little32(region, kExtentAt);
    binding.carriedSize = Little32(region, kExtentAt + 4);
  }
  return binding;
}

std::string WithIdentity(std::string region, const PackageIdentity& identity) {
  region.resize(std::max<std::size_t>(region.size(), PACKAGE_BINDING_IDENTITY_SIZE), '\0');
  for (const IdentityField& field : kIdentityFields) {
    std::string text = (identity.*field.text).substr(0, field.size - 1);
    region.replace(field.at, field.size, text + std::string(field.size - text.size(), '\0'));
  }
  return region;
}

std::string PackageIdentityText(const PackageIdentity& identity) {
  if (identity.product.empty()) return "none";
  return identity.product + (identity.version.empty() ? "" : " " + identity.version);
}

bool CarriedCabinetFits(const PackageBinding& binding, std::optional<unsigned long long> fileSize) {
  // A cabinet starts with its header, and never at the start of the launcher's own image.
  return binding.carriedOffset > 0 && binding.carriedSize >= cabinet::kHeaderSize && fileSize &&
         static_cast<unsigned long long>(binding.carriedOffset) + binding.carriedSize <= *fileSize;
}

std::string PrivateCabinetPath(const std::string& expansionDirectory, unsigned long number) {
  char name[32];
  std::snprintf(name, sizeof name, "\\package-%08lx.cab", number & 0xFFFFFFFFUL);
  return expansionDirectory + name;
}

std::string CopyMatchingCabinet(const HeldCabinet& held, const PackageBinding& binding, const std::string& copyPath,
                                std::string* digest) {
  platform::ByteRange range;
  if (binding.carried) range = {binding.carriedOffset, binding.carriedSize};
  *digest = platform::Sha256Of(held.File(), copyPath, range);
  if (digest->empty()) {
    return "Unable to use the temporary directory: the package cabinet could not be read and copied into it whole.";
  }
  if (*digest == binding.digest) return "";
  platform::RemoveFileAt(copyPath);
  return "The package cabinet does not match this launcher.";
}
