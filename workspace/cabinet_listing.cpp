#include "workspace/cabinet_listing.h"

#include <algorithm>
#include <cstdio>

#include "common/little_endian.h"
#include "platform/platform.h"
#include "workspace/cabinet_format.h"

namespace {

using cabinet::kFileEntrySize;
using cabinet::kHeaderSize;
using cabinet::kNameLimit;

// A cabinet that continues from or in another of a set: extrac32.exe /A follows it into files of
// the next cabinet, which this table does not list.
constexpr std::uint16_t kPartOfASet = cabinet::kPreviousCabinet | cabinet::kNextCabinet;
// The table follows the header's reserved area (at most 65,535 bytes), the names of the
// neighbouring cabinets of a set and at most 65,535 folder entries of at most 263 bytes each.
constexpr std::size_t kLatestTableStart = 18u << 20;

std::size_t TableStart(std::string_view header) { return ReadLittle(header, cabinet::kFileTableAt, 4); }
std::size_t FileCount(std::string_view header) { return ReadLittle(header, cabinet::kFileCountAt, 2); }

}  // namespace

std::optional<std::vector<CabinetFile>> ParseCabinetListing(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || bytes.substr(0, 4) != cabinet::kSignature ||
      static_cast<unsigned char>(bytes[cabinet::kMajorVersionAt]) != cabinet::kMajorVersion) {
    return std::nullopt;
  }
  std::size_t at = TableStart(bytes);
  std::size_t count = FileCount(bytes);
  std::uint32_t flags = ReadLittle(bytes, cabinet::kFlagsAt, 2);
  std::size_t minimumStart = kHeaderSize + ((flags & cabinet::kReservePresent) != 0 ? 4 : 0);
  if (at < minimumStart || at > kLatestTableStart || (flags & kPartOfASet) != 0) return std::nullopt;
  std::vector<CabinetFile> files;
  files.reserve(std::min(count, bytes.size() / (kFileEntrySize + 2)));
  for (std::size_t i = 0; i < count; ++i) {
    if (at > bytes.size() || bytes.size() - at < kFileEntrySize + 1) return std::nullopt;
    std::string_view name = bytes.substr(at + kFileEntrySize, kNameLimit);
    std::size_t end = name.find('\0');
    if (end == 0 || end == std::string_view::npos) return std::nullopt;
    files.push_back({std::string(name.substr(0, end)),
                     (ReadLittle(bytes, at + cabinet::kAttributesAt, 2) & cabinet::kNameIsUtf8) != 0,
                     ReadLittle(bytes, at + cabinet::kFileSizeAt, 4)});
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
  if (bytes.size() == kHeaderSize && TableStart(bytes) <= kLatestTableStart) {
    // Only the part up to the table's end is read: its entries are at most this long each.
    std::size_t end = TableStart(bytes) + FileCount(bytes) * (kFileEntrySize + kNameLimit);
    if (end > *size) end = static_cast<std::size_t>(*size);
    if (end > kHeaderSize) {
      bytes.resize(end);
      bytes.resize(kHeaderSize + std::fread(&bytes[kHeaderSize], 1, end - kHeaderSize, file));
    }
  }
  std::fclose(file);
  return ParseCabinetListing(bytes);
}
