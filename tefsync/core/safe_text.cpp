#include "tefsync/core/safe_text.h"

#include <cstdint>
#include <cstdio>

namespace tefsync {
namespace {

// Length of the well-formed UTF-8 sequence at text[i] and its code point; 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF included).
size_t utf8At(const std::string& text, size_t i, char32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  size_t len = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

std::string hexEscape(const char* format, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

}  // namespace

std::string escapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = utf8At(text, i, cp);
    if (len == 0) {
      out += hexEscape("\\x%02x", static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || cp == 0x7F) {
      out += hexEscape("\\x%02x", static_cast<unsigned>(cp));
    } else if ((cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029) {
      out += hexEscape("\\u%04x", static_cast<unsigned>(cp));
    } else {
      out.append(text, i, len);
    }
    i += len;
  }
  return out;
}

std::string maskSecrets(const std::string& text, const std::vector<std::string>& secrets) {
  std::vector<bool> hidden(text.size(), false);
  bool any = false;
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (size_t p = text.find(secret); p != std::string::npos; p = text.find(secret, p + 1)) {
      for (size_t k = p; k < p + secret.size(); ++k) hidden[k] = true;
      any = true;
    }
    if (secret.size() < kMinSecretPiece) continue;
    // Common runs: run[j + 1] is the length of the match ending at text[i] and secret[j].
    // start[i] is where the longest piece ending at text[i] begins.
    std::vector<size_t> run(secret.size() + 1, 0), next(secret.size() + 1, 0);
    std::vector<size_t> start(text.size(), text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      size_t longest = 0;
      for (size_t j = 0; j < secret.size(); ++j) {
        next[j + 1] = text[i] == secret[j] ? run[j] + 1 : 0;
        if (next[j + 1] > longest) longest = next[j + 1];
      }
      if (longest >= kMinSecretPiece) start[i] = i + 1 - longest;
      run.swap(next);
    }
    // A position is hidden when a piece ending at or after it begins at or before it.
    size_t low = text.size();
    for (size_t i = text.size(); i-- > 0;) {
      if (start[i] < low) low = start[i];
      if (low <= i) {
        hidden[i] = true;
        any = true;
      }
    }
  }
  if (!any) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!hidden[i])
      out += text[i];
    else if (i == 0 || !hidden[i - 1])
      out += "***";
  }
  return out;
}

std::string safeText(const std::string& text, const std::vector<std::string>& secrets) {
  return escapeControls(maskSecrets(text, secrets));
}

}  // namespace tefsync
