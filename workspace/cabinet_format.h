#pragma once
// The parts of the Microsoft Cabinet format that the launcher reads (the header and the file
// table) and that the package tools write for the stand-in. Numbers are little-endian.

#include <cstddef>
#include <cstdint>

namespace cabinet {

constexpr const char* kSignature = "MSCF";
// The fixed part of the header; the reserved area and the names of neighbouring cabinets of a set
// follow it. Where its fields lie:
constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFileTableAt = 16;     // 32 bits: where the first file entry starts
constexpr std::size_t kMajorVersionAt = 25;  // 8 bits: 1, of format version 1.3
constexpr std::size_t kFolderCountAt = 26;   // 16 bits
constexpr std::size_t kFileCountAt = 28;     // 16 bits
constexpr std::size_t kFlagsAt = 30;         // 16 bits
constexpr std::size_t kFolderEntrySize = 8;  // without a reserved area
constexpr std::uint8_t kMajorVersion = 1;
constexpr std::uint8_t kMinorVersion = 3;

// The header's flags: it continues from or in another cabinet of a set, and it has a reserved area.
constexpr std::uint16_t kPreviousCabinet = 0x0001;
constexpr std::uint16_t kNextCabinet = 0x0002;
constexpr std::uint16_t kReservePresent = 0x0004;

// A file entry: its size once expanded (32 bits) at 0, its attributes (16 bits) at 14, then its
// zero-terminated name.
constexpr std::size_t kFileEntrySize = 16;  // before the file's name
constexpr std::size_t kFileSizeAt = 0;
constexpr std::size_t kAttributesAt = 14;
constexpr std::uint16_t kNameIsUtf8 = 0x80;  // an attribute
constexpr std::size_t kNameLimit = 256;      // the longest name, its terminating zero included

}  // namespace cabinet
