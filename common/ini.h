// INI files with Windows profile-string semantics.
//
// Section and key names match without regard to ASCII case; a missing file, section or
// key reads as the empty text; blanks around names and values are dropped, and one pair
// of surrounding quotes from a value; the first of duplicate keys (or sections) wins;
// lines beginning with ';' are comments. A write replaces the key's line in place, adds a
// missing key at the end of its section, a missing section at the end of the file, and
// leaves every other byte as it was. Windows-1252 on disk. Texts in memory are UTF-8.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zkt {

// Thrown for a name or value the file format cannot hold (line breaks, '=' or ']' in a
// name); the file is not touched.
class IniError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Reads the file afresh on every call, as the platform's profile functions do.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& FileName() const { return path_; }

  // The value, or Default when the file, section or key is missing. A file that
  // exists but cannot be read throws plat::FileError.
  std::string ReadString(const std::string& Section, const std::string& Ident,
                         const std::string& Default = {}) const;
  // Atomic: the file on disk is the old one or the whole new one. A file created here
  // is readable and writable by its owner only. Throws plat::FileError or IniError.
  void WriteString(const std::string& Section, const std::string& Ident,
                   const std::string& Value) const;
  // Several keys of one section in one atomic replace, written in the order given: the
  // file gets all of them or none.
  void WriteStrings(const std::string& Section,
                    const std::vector<std::pair<std::string, std::string>>& values) const;

 private:
  std::string path_;
};

// One-call forms: IniFile(path).ReadString / WriteString.
std::string LerIni(const std::string& path, const std::string& section, const std::string& key);
void GravarIni(const std::string& path, const std::string& section, const std::string& key,
               const std::string& value);

// The same on raw Windows-1252 file contents (no file access).
std::string iniRead(const std::string& cp1252Contents, const std::string& section,
                    const std::string& key, bool& found);
std::string iniWrite(const std::string& cp1252Contents, const std::string& section,
                     const std::string& key, const std::string& value);

}  // namespace zkt
