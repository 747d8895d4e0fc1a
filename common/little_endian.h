#pragma once
// Little-endian fields, as the cabinet format and the package binding store their numbers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Returns the unsigned number of width bytes (at most 4) at bytes[at], least significant first;
// the caller has checked that they lie in bytes.
inline std::uint32_t ReadLittle(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// Appends value to bytes as width bytes (at most 4), least significant first.
inline void AppendLittle(std::string* bytes, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
