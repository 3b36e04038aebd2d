#include "platform/encoding.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace plat {

namespace {

// The five bytes Windows-1252 leaves undefined; they travel as the C1 controls of equal value.
bool isCp1252Hole(char32_t c) {
  return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
  }
  ~Converter() { ::iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as possible; returns false on an invalid or incomplete sequence,
  // leaving in/inLeft at the offending input.
  bool run(const char*& in, size_t& inLeft, std::string& out) {
    char buf[1024];
    while (inLeft > 0) {
      char* outPtr = buf;
      size_t outLeft = sizeof buf;
      char* inPtr = const_cast<char*>(in);
      const size_t r = ::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      in = inPtr;
      out.append(buf, sizeof buf - outLeft);
      if (r == static_cast<size_t>(-1) && errno != E2BIG) {
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one code point at s[i]; advances i. Invalid input yields U+FFFD and one byte.
char32_t decodeOne(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t c = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += len;
  return c;
}

}  // namespace

std::string utf8ToCp1252(std::string_view utf8) {
  Converter conv("WINDOWS-1252", "UTF-8");
  std::string out;
  out.reserve(utf8.size());
  const char* in = utf8.data();
  size_t left = utf8.size();
  while (!conv.run(in, left, out)) {
    // Not representable, or not valid UTF-8: one '?' for the character (or the bad byte).
    size_t i = 0;
    const char32_t c = decodeOne(std::string_view(in, left), i);
    out += isCp1252Hole(c) ? static_cast<char>(c) : '?';
    in += i;
    left -= i;
  }
  return out;
}

std::string cp1252ToUtf8(std::string_view cp1252) {
  Converter conv("UTF-8", "WINDOWS-1252");
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 4);
  const char* in = cp1252.data();
  size_t left = cp1252.size();
  while (!conv.run(in, left, out)) {
    appendUtf8(out, static_cast<unsigned char>(*in));
    ++in;
    --left;
  }
  return out;
}

std::u32string toU32(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out += decodeOne(utf8, i);
  return out;
}

std::string fromU32(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    appendUtf8(out, c);
  }
  return out;
}

}  // namespace plat
