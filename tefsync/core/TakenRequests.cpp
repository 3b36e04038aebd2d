#include "tefsync/core/TakenRequests.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "platform/fs.h"

namespace tefsync {
namespace {

// First line of the file: names the format, so a stranger's file is not taken for ours.
const char* const kCabecalho = "tefsync requisicoes 1";

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
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

bool unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return false;
    switch (s[i]) {
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
        return false;
    }
  }
  return true;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == sep)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

template <typename T>
bool number(const std::string& s, T& value) {
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
}

bool parseEntry(const std::string& line, TakenRequests::Entry& e) {
  const std::vector<std::string> f = split(line, '\t');
  if (f.size() != 6 || !number(f[0], e.id) || !number(f[1], e.status)) return false;
  if (f[2] != "0" && f[2] != "1") return false;
  e.approved = f[2] == "1";
  for (size_t i = 0; i < 3; ++i) {
    if (!unescape(f[3 + i], e.texts[i])) return false;
  }
  return true;
}

}  // namespace

TakenRequests::TakenRequests(std::string path, size_t maxIds)
    : path_(std::move(path)), maxIds_(std::max<size_t>(maxIds, 1)) {}

void TakenRequests::load() {
  if (loaded_) return;
  std::vector<Entry> entries;
  if (plat::fileExists(path_)) {
    std::string bytes;
    try {
      bytes = plat::readBytes(path_);
    } catch (const plat::FileError& e) {
      throw TakenRequestsError(e.what());
    }
    const std::vector<std::string> lines = split(bytes, '\n');
    // A complete file ends with a line break: the last piece is empty.
    if (lines.empty() || lines[0] != kCabecalho || !lines.back().empty())
      throw TakenRequestsError("Arquivo " + path_ + " nao e um registro de requisicoes valido");
    for (size_t n = 1; n + 1 < lines.size(); ++n) {
      Entry e;
      if (!parseEntry(lines[n], e))
        throw TakenRequestsError("Arquivo " + path_ + ": linha " + std::to_string(n + 1) +
                                 " invalida");
      entries.push_back(std::move(e));
    }
  }
  entries_ = std::move(entries);
  loaded_ = true;
}

std::optional<TakenRequests::Entry> TakenRequests::find(int64_t id) {
  load();
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->id == id) return *it;
  }
  return std::nullopt;
}

void TakenRequests::record(Entry entry) {
  load();
  // Only a report that may be sent again needs its texts.
  if (entry.status != 4 && entry.status != 5) entry.texts = {};
  std::vector<Entry> next = entries_;
  std::erase_if(next, [&](const Entry& e) { return e.id == entry.id; });
  next.push_back(std::move(entry));
  if (next.size() > maxIds_) next.erase(next.begin(), next.end() - static_cast<long>(maxIds_));

  std::string bytes = std::string(kCabecalho) + "\n";
  for (const Entry& e : next) {
    bytes +=
        std::to_string(e.id) + "\t" + std::to_string(e.status) + "\t" + (e.approved ? "1" : "0");
    for (const std::string& t : e.texts) bytes += "\t" + escape(t);
    bytes += "\n";
  }
  // The TEF texts carry card data: owner only, like the settings file.
  plat::writeBytesAtomic(path_, bytes, true);
  entries_ = std::move(next);
}

}  // namespace tefsync
