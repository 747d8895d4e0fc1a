#pragma once
// The package binding: a launcher that the package tool bound to its cabinet expands that cabinet
// only, the very bytes it checked.

#include <string>

#include "platform/platform.h"

// The package cabinet held for the expansion: released when this goes out of scope.
class HeldCabinet {
 public:
  HeldCabinet() = default;
  ~HeldCabinet() { platform::ReleaseHeldFile(file_); }
  HeldCabinet(const HeldCabinet&) = delete;
  HeldCabinet& operator=(const HeldCabinet&) = delete;

  // Holds file in place of whatever was held.
  void Hold(platform::HeldFile file) {
    platform::ReleaseHeldFile(file_);
    file_ = file;
  }

 private:
  platform::HeldFile file_;
};

// Returns true when the launcher is not bound (the build output, or a package made before
// binding), or when the cabinet at cabinetPath hashes to the launcher's binding; the cabinet is
// then held in held, so that nobody can change it until the expansion has read it, and its hash
// is in digest. Returns false when a bound launcher's cabinet differs or cannot be read.
bool PackageCabinetMatches(const std::string& cabinetPath, HeldCabinet* held, std::string* digest);
