#include "platform/detail.h"

#include <vector>

#include "platform/http.h"

namespace plat::detail {

bool isSep(char c) {
  return c == '\\' || c == '/';
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string upperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

std::string trimBlanks(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

std::string baseName(std::string_view path, std::string_view separators) {
  const auto cut = path.find_last_of(separators);
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

void checkRequest(const std::string& method, const std::string& url) {
  if (method != "GET" && method != "POST") throw HttpError("Unsupported HTTP method " + method);
  if (url.empty()) throw HttpError("Empty URL");
}

std::string mapBelow(const std::string& base, std::string_view rest, char sep,
                     const NameOnDisk& onDisk) {
  std::vector<std::string> parts;
  const auto joined = [&] {
    std::string out = base;
    for (const auto& p : parts) (out += sep) += p;
    return out;
  };
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && isSep(rest[i])) ++i;
    size_t j = i;
    while (j < rest.size() && !isSep(rest[j])) ++j;
    const std::string comp(rest.substr(i, j - i));
    i = j;
    if (comp.empty() || comp == ".") continue;
    if (comp == "..") {
      if (!parts.empty()) parts.pop_back();  // never above the drive's root
    } else {
      parts.push_back(onDisk ? onDisk(joined(), comp) : comp);
    }
  }
  std::string out = joined();
  if (!rest.empty() && isSep(rest.back())) out += sep;
  return out;
}

}  // namespace plat::detail
