// Text inside the programs is UTF-8; files on disk are Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// A character outside Windows-1252 (or invalid UTF-8) becomes '?'.
std::string utf8ToCp1252(std::string_view utf8);
// Every byte maps; the five bytes undefined in Windows-1252 map to U+FFFD-free C1 controls.
std::string cp1252ToUtf8(std::string_view cp1252);

// Code points of UTF-8 text (invalid bytes become U+FFFD) and back.
std::u32string toU32(std::string_view utf8);
std::string fromU32(std::u32string_view text);

}  // namespace plat
