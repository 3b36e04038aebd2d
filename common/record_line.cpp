#include "common/record_line.h"

namespace zkt {

std::string escapeField(std::string_view field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool unescapeField(std::string_view field, std::string& out) {
  out.clear();
  bool whole = true;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (i + 1 == field.size()) {
      out += '\\';
      return false;
    }
    switch (const char c = field[++i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      default:
        out += c;
        whole = false;
    }
  }
  return whole;
}

std::vector<std::string> splitOn(std::string_view text, char sep) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

}  // namespace zkt
