#include "tefsync/core/TakenRequests.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "common/record_line.h"
#include "platform/fs.h"

namespace tefsync {
namespace {

// First line of the file: names the format, so a stranger's file is not taken for ours.
const char* const kCabecalho = "tefsync requisicoes 1";

template <typename T>
bool number(const std::string& s, T& value) {
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
}

bool parseEntry(const std::string& line, TakenRequests::Entry& e) {
  const std::vector<std::string> f = zkt::splitOn(line, '\t');
  if (f.size() != 6 || !number(f[0], e.id) || !number(f[1], e.status)) return false;
  if (f[2] != "0" && f[2] != "1") return false;
  e.approved = f[2] == "1";
  for (size_t i = 0; i < 3; ++i) {
    if (!zkt::unescapeField(f[3 + i], e.texts[i])) return false;
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
    const std::vector<std::string> lines = zkt::splitOn(bytes, '\n');
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
    for (const std::string& t : e.texts) bytes += "\t" + zkt::escapeField(t);
    bytes += "\n";
  }
  // The TEF texts carry card data: owner only, like the settings file.
  plat::writeBytesAtomic(path_, bytes, true);
  entries_ = std::move(next);
}

}  // namespace tefsync

namespace tefsync {

std::vector<TakenRequests::Entry> TakenRequests::open() {
  load();
  std::vector<Entry> out;
  for (const Entry& e : entries_)
    if (isOpen(e)) out.push_back(e);
  return out;
}

}  // namespace tefsync
