#include "common/ini.h"

#include <string_view>
#include <vector>

#include "platform/encoding.h"
#include "platform/fs.h"

namespace zkt {

namespace {

// One line of the file: [begin, contentEnd) is its text, [contentEnd, end) its line break.
struct Line {
  size_t begin;
  size_t contentEnd;
  size_t end;
};

std::vector<Line> splitLines(std::string_view s) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = i;
    while (j < s.size() && s[j] != '\n' && s[j] != '\r') ++j;
    size_t e = j;
    if (e < s.size() && s[e] == '\r') ++e;
    if (e < s.size() && s[e] == '\n') ++e;
    lines.push_back({i, j, e});
    i = e;
  }
  return lines;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

enum class Kind { Other, Section, Key };

struct Parsed {
  Kind kind = Kind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

Parsed parse(std::string_view text) {
  const std::string_view t = trim(text);
  Parsed p;
  if (t.empty() || t.front() == ';') return p;
  if (t.front() == '[') {
    const auto close = t.find(']');
    p.kind = Kind::Section;
    p.name =
        trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return p;
  }
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = Kind::Key;
  p.name = trim(t.substr(0, eq));
  p.value = trim(t.substr(eq + 1));
  return p;
}

std::string unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

// Where a section's lines lie: header index and one past its last line.
struct SectionSpan {
  size_t header;
  size_t end;
};

bool findSection(std::string_view s, const std::vector<Line>& lines, std::string_view section,
                 SectionSpan& span) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const Parsed p = parse(s.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin));
    if (p.kind != Kind::Section || !sameName(p.name, section)) continue;
    size_t j = i + 1;
    while (j < lines.size() &&
           parse(s.substr(lines[j].begin, lines[j].contentEnd - lines[j].begin)).kind !=
               Kind::Section)
      ++j;
    span = {i, j};
    return true;
  }
  return false;
}

void checkName(const std::string& what, std::string_view name) {
  if (trim(name).empty()) throw IniError("INI " + what + " name is empty");
  if (name.find_first_of("\r\n") != std::string_view::npos)
    throw IniError("INI " + what + " name \"" + std::string(name) + "\" holds a line break");
}

std::string lineBreakOf(std::string_view s, const std::vector<Line>& lines) {
  for (const auto& l : lines)
    if (l.end > l.contentEnd) return std::string(s.substr(l.contentEnd, l.end - l.contentEnd));
  return "\r\n";
}

}  // namespace

std::string iniRead(const std::string& contents, const std::string& section, const std::string& key,
                    bool& found) {
  found = false;
  const std::string_view s(contents);
  const auto lines = splitLines(s);
  SectionSpan span{};
  if (!findSection(s, lines, trim(section), span)) return {};
  for (size_t i = span.header + 1; i < span.end; ++i) {
    const Parsed p = parse(s.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin));
    if (p.kind == Kind::Key && sameName(p.name, trim(key))) {
      found = true;
      return unquote(p.value);
    }
  }
  return {};
}

std::string iniWrite(const std::string& contents, const std::string& section,
                     const std::string& key, const std::string& value) {
  checkName("section", section);
  checkName("key", key);
  if (section.find(']') != std::string::npos)
    throw IniError("INI section name \"" + section + "\" holds ']'");
  if (key.find('=') != std::string::npos || trim(key).front() == ';' || trim(key).front() == '[')
    throw IniError("INI key name \"" + key + "\" cannot be stored");
  if (value.find_first_of("\r\n") != std::string::npos)
    throw IniError("INI value of \"" + key + "\" holds a line break");

  const std::string_view s(contents);
  const auto lines = splitLines(s);
  const std::string nl = lineBreakOf(s, lines);
  const std::string keyLine = std::string(trim(key)) + "=" + value;

  SectionSpan span{};
  if (!findSection(s, lines, trim(section), span)) {
    std::string out = contents;
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += nl;
    return out + "[" + std::string(trim(section)) + "]" + nl + keyLine + nl;
  }
  for (size_t i = span.header + 1; i < span.end; ++i) {
    const Line& l = lines[i];
    const Parsed p = parse(s.substr(l.begin, l.contentEnd - l.begin));
    if (p.kind == Kind::Key && sameName(p.name, trim(key)))
      return contents.substr(0, l.begin) + keyLine + contents.substr(l.contentEnd);
  }
  // A new key goes after the section's last non-blank line.
  size_t last = span.header;
  for (size_t i = span.header + 1; i < span.end; ++i)
    if (!trim(s.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin)).empty()) last = i;
  const Line& l = lines[last];
  if (l.end == l.contentEnd)  // the last line of a file without a final line break
    return contents + nl + keyLine + nl;
  return contents.substr(0, l.end) + keyLine + nl + contents.substr(l.end);
}

std::string IniFile::ReadString(const std::string& Section, const std::string& Ident,
                                const std::string& Default) const {
  if (!plat::fileExists(path_)) return Default;
  bool found = false;
  const std::string v = iniRead(plat::readBytes(path_), plat::utf8ToCp1252(Section),
                                plat::utf8ToCp1252(Ident), found);
  return found ? plat::cp1252ToUtf8(v) : Default;
}

void IniFile::WriteString(const std::string& Section, const std::string& Ident,
                          const std::string& Value) const {
  WriteStrings(Section, {{Ident, Value}});
}

void IniFile::WriteStrings(const std::string& Section,
                           const std::vector<std::pair<std::string, std::string>>& values) const {
  const bool exists = plat::fileExists(path_);
  std::string contents = exists ? plat::readBytes(path_) : std::string();
  const std::string section = plat::utf8ToCp1252(Section);
  for (const auto& [key, value] : values)
    contents = iniWrite(contents, section, plat::utf8ToCp1252(key), plat::utf8ToCp1252(value));
  // A file made here may hold the bearer token: owner only.
  plat::writeBytesAtomic(path_, contents, !exists);
}

std::string LerIni(const std::string& path, const std::string& section, const std::string& key) {
  return IniFile(path).ReadString(section, key);
}

void GravarIni(const std::string& path, const std::string& section, const std::string& key,
               const std::string& value) {
  IniFile(path).WriteString(section, key, value);
}

}  // namespace zkt
