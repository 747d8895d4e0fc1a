#pragma once
#include <string>

// Returns text with A-Z in small letters and every other byte as it is: bytes above 127 stay, so
// positions match the text as typed, and the ANSI code page's letters are left to the system.
inline std::string FoldAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}
