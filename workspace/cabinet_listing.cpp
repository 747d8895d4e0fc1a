#include "workspace/cabinet_listing.h"

#include <algorithm>
#include <cstdio>

#include "platform/platform.h"

namespace {

// The fixed part of the cabinet header; the reserved area and the names of neighbouring
// cabinets of a set follow it.
constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFileEntrySize = 16;  // before the file's name
constexpr std::size_t kNameLimit = 256;     // the longest name, its terminating zero included
constexpr std::uint16_t kReservePresent = 0x0004;
// A cabinet that continues from or in another of a set: extrac32.exe /A follows it into files of
// the next cabinet, which this table does not list.
constexpr std::uint16_t kPartOfASet = 0x0001 | 0x0002;
constexpr std::uint16_t kNameIsUtf8 = 0x80;
// The table follows the header's reserved area (at most 65,535 bytes), the names of the
// neighbouring cabinets of a set and at most 65,535 folder entries of at most 263 bytes each.
constexpr std::size_t kLatestTableStart = 18u << 20;

std::uint32_t Little(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

std::optional<std::vector<CabinetFile>> ParseCabinetListing(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || bytes.substr(0, 4) != "MSCF" || static_cast<unsigned char>(bytes[25]) != 1) {
    return std::nullopt;
  }
  std::size_t at = Little(bytes, 16, 4);
  std::size_t count = Little(bytes, 28, 2);
  std::uint32_t flags = Little(bytes, 30, 2);
  std::size_t minimumStart = kHeaderSize + ((flags & kReservePresent) != 0 ? 4 : 0);
  if (at < minimumStart || at > kLatestTableStart || (flags & kPartOfASet) != 0) return std::nullopt;
  std::vector<CabinetFile> files;
  files.reserve(std::min(count, bytes.size() / (kFileEntrySize + 2)));
  for (std::size_t i = 0; i < count; ++i) {
    if (at > bytes.size() || bytes.size() - at < kFileEntrySize + 1) return std::nullopt;
    std::string_view name = bytes.substr(at + kFileEntrySize, kNameLimit);
    std::size_t end = name.find('\0');
    if (end == 0 || end == std::string_view::npos) return std::nullopt;
    files.push_back(
        {std::string(name.substr(0, end)), (Little(bytes, at + 14, 2) & kNameIsUtf8) != 0, Little(bytes, at, 4)});
    at += kFileEntrySize + end + 1;
  }
  return files;
}

std::optional<std::vector<CabinetFile>> ReadCabinetListing(const std::string& path) {
  std::optional<unsigned long long> size = platform::FileSize(path);
  std::FILE* file = size ? platform::OpenStream(path, "rb") : nullptr;
  if (file == nullptr) return std::nullopt;
  std::string bytes(kHeaderSize, '\0');
  bytes.resize(std::fread(&bytes[0], 1, bytes.size(), file));
  if (bytes.size() == kHeaderSize && Little(bytes, 16, 4) <= kLatestTableStart) {
    // Only the part up to the table's end is read: its entries are at most this long each.
    std::size_t end = Little(bytes, 16, 4) + Little(bytes, 28, 2) * (kFileEntrySize + kNameLimit);
    if (end > *size) end = static_cast<std::size_t>(*size);
    if (end > kHeaderSize) {
      bytes.resize(end);
      bytes.resize(kHeaderSize + std::fread(&bytes[kHeaderSize], 1, end - kHeaderSize, file));
    }
  }
  std::fclose(file);
  return ParseCabinetListing(bytes);
}
