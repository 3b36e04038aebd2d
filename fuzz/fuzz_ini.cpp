// The INI reader and writer on any file contents: a write either refuses the name or value
// with an IniError, or leaves a file where the key reads back as written and every other
// key reads as before. Input: section, key and value (each up to a 0x00 byte), then the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ini.h"
#include "fuzz_support.h"

namespace {

std::string take(const uint8_t*& p, const uint8_t* end, size_t most) {
  std::string out;
  while (p < end && *p != 0 && out.size() < most) out += static_cast<char>(*p++);
  if (p < end && *p == 0) ++p;
  return out;
}

bool blank(char c) {
  return c == ' ' || c == '\t';
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool same(const std::string& a, const std::string& b) {
  const std::string x = trimmed(a), y = trimmed(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (lower(x[i]) != lower(y[i])) return false;
  return true;
}

// Names present in the file, as a reader would try them.
std::vector<std::pair<std::string, std::string>> probes(const std::string& contents) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string section;
  size_t i = 0;
  while (i < contents.size() && out.size() < 32) {
    size_t j = contents.find_first_of("\r\n", i);
    if (j == std::string::npos) j = contents.size();
    const std::string line = trimmed(contents.substr(i, j - i));
    i = j + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line.substr(
          1, line.find(']') == std::string::npos ? std::string::npos : line.find(']') - 1);
      continue;
    }
    const size_t eq = line.find('=');
    if (eq != std::string::npos) out.emplace_back(section, line.substr(0, eq));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  const std::string section = take(p, end, 24);
  const std::string key = take(p, end, 24);
  const std::string value = take(p, end, 64);
  const std::string contents(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));

  bool found = false;
  (void)zkt::iniRead(contents, section, key, found);

  std::string after;
  try {
    after = zkt::iniWrite(contents, section, key, value);
  } catch (const zkt::IniError&) {
    return 0;
  }
  const std::string v = zkt::iniRead(after, section, key, found);
  FUZZ_CHECK(found, "written key not found");
  // Blanks around a value and one pair of quotes are the format's, not the value's.
  const std::string t = trimmed(value);
  const bool quoted =
      t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front();
  if (!quoted) FUZZ_CHECK(v == t, "read back \"" + v + "\" for \"" + value + "\"");

  for (const auto& [s, k] : probes(contents)) {
    if (same(s, section) && same(k, key)) continue;
    bool f1 = false, f2 = false;
    const std::string a = zkt::iniRead(contents, s, k, f1);
    const std::string b = zkt::iniRead(after, s, k, f2);
    FUZZ_CHECK(f1 == f2 && a == b, "write of [" + section + "] " + key + " changed [" + s + "] " +
                                       k + ": \"" + a + "\" -> \"" + b + "\"");
  }
  // Writing the same again changes nothing.
  FUZZ_CHECK(zkt::iniWrite(after, section, key, value) == after, "second write changed file");
  return 0;
}
