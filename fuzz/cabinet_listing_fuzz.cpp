// Random bytes as a cabinet's head for ParseCabinetListing: no crash, no read outside the bytes,
// and every name it lists non-empty, without its terminating zero, at most 255 bytes, lying in the
// bytes after a table entry's 16 fixed bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "workspace/cabinet_listing.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "ParseCabinetListing: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<std::vector<CabinetFile>> files = ParseCabinetListing(bytes);
  if (!files) return 0;
  std::size_t used = 0;
  for (const CabinetFile& file : *files) {
    Check(!file.name.empty() && file.name.size() <= 255, "a name's length");
    Check(file.name.find('\0') == std::string::npos, "a zero inside a name");
    used += 16 + file.name.size() + 1;
  }
  Check(used <= size, "the table lies in the bytes");
  return 0;
}
