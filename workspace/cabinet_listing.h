#pragma once
// The files a package cabinet lists, read from the cabinet's own file table: extrac32.exe ends
// with 0 for a missing, damaged or cut-short cabinet and for a disk that fills, so only what the
// cabinet says it holds tells whether the expansion is whole.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CabinetFile {
  std::string name;         // the path below the expansion directory, "\" between folders
  bool nameIsUtf8 = false;  // the name is UTF-8; otherwise it is in the ANSI code page
  std::uint32_t size = 0;   // the size once expanded
};

// Returns the files that the table of a cabinet lists, in the table's order, from the cabinet's
// bytes from its start to at least the table's end; nothing when the bytes are no cabinet of the
// Microsoft Cabinet format, its table does not lie whole in them, or it is one of a set of cabinets
// (it continues from or in another), whose other cabinets hold files that this table does not list.
std::optional<std::vector<CabinetFile>> ParseCabinetListing(std::string_view bytes);

// Returns the files that the cabinet at path lists; nothing when it cannot be read or is no cabinet.
std::optional<std::vector<CabinetFile>> ReadCabinetListing(const std::string& path);
