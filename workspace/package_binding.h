#pragma once
// The package binding: a launcher that the package tool bound to its cabinet expands that cabinet
// only, the very bytes it checked.

#include <optional>
#include <string>

#include "platform/platform.h"

// The original package cabinet of a bound launcher, held against writers from before the
// expansion directory is created until its private copy there is made: released when this goes out
// of scope.
class HeldCabinet {
 public:
  HeldCabinet() = default;
  ~HeldCabinet() { Release(); }
  HeldCabinet(const HeldCabinet&) = delete;
  HeldCabinet& operator=(const HeldCabinet&) = delete;

  // Holds the cabinet at path in place of whatever was held; false when it cannot be held.
  bool Hold(const std::string& path) {
    Release();
    file_ = platform::HoldFileForReading(path);
    return static_cast<bool>(file_);
  }

  platform::HeldFile File() const { return file_; }

  void Release() {
    platform::ReleaseHeldFile(file_);
    file_ = platform::HeldFile{};
  }

 private:
  platform::HeldFile file_;
};

// The package a launcher was made for, as the package tool names it; all empty when it was made
// without one.
struct PackageIdentity {
  std::string product;  // the product's name, in the ANSI code page
  std::string version;
  std::string company;
};

// The package binding written into the launcher by the package tool.
struct PackageBinding {
  bool bound = false;  // false: the launcher as built, which runs any cabinet
  std::string digest;  // when bound: the SHA-256 (32 bytes) of the one cabinet it may expand
  // A single-file package: the cabinet lies in the launcher's own file, at this extent.
  bool carried = false;
  unsigned long carriedOffset = 0;
  unsigned long carriedSize = 0;
  PackageIdentity identity;
};

// Reads the running launcher's package binding; not bound when it holds no binding, or one that
// is too short or does not carry the binding's name. The identity is read whether bound or not, and
// stays empty when the region ends before it or a field lacks its terminating zero.
PackageBinding ReadPackageBinding();

// Returns how the run's records name the package: "NAME VERSION", or "none" for a launcher made
// without a package identity.
std::string PackageIdentityText(const PackageIdentity& identity);

// Returns region (padded with zeros to the identity's end) with the identity's fields written, as
// the package tool writes them; a text longer than its field is cut to fit with its zero.
std::string WithIdentity(std::string region, const PackageIdentity& identity);

// Whether the carried cabinet's extent lies within a launcher file of fileSize bytes.
bool CarriedCabinetFits(const PackageBinding& binding, std::optional<unsigned long long> fileSize);

// Returns the path of a bound launcher's private copy of its cabinet in the expansion directory:
// a name of number's eight hexadecimal digits, which no package's files foresee.
std::string PrivateCabinetPath(const std::string& expansionDirectory, unsigned long number);

// Copies the held cabinet to copyPath while hashing it, in one pass. Returns "" when the hash,
// entered in digest, is binding's; otherwise, with no copy left, the line that says why: another
// cabinet, or a read or a copy that failed (a full disk).
std::string CopyMatchingCabinet(const HeldCabinet& held, const PackageBinding& binding, const std::string& copyPath,
                                std::string* digest);
