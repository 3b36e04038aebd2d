#include "tefsync/core/TakenRequests.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "common/record_line.h"
#include "platform/clock.h"
#include "platform/fs.h"

namespace tefsync {
namespace {

// First line of the file: names the format, so a stranger's file is not taken for ours.
// Format 1 lines: id, status, approved, three texts. Format 2 lines: id, status, approved,
// delivered, numero, the count of NSUs, the NSUs, three texts.
constexpr std::string_view kCabecalho = "tefsync requisicoes ";
constexpr int kVersao = 2;
const char* const kOperacao = "Registro de requisicoes";
// Lost ids a log row lists by number; the rest it counts.
constexpr size_t kIdsListados = 30;

template <typename T>
bool number(std::string_view s, T& value) {
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size();
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
  std::vector<std::string_view> f;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    f.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return f;
    start = tab + 1;
  }
}

// Format 2 writes a NUL as "\0", so a NUL byte in its file is damage (a zeroed block).
std::string encodeText(std::string_view text) {
  std::string out;
  for (char c : zkt::escapeField(text)) {
    if (c == '\0')
      out += "\\0";
    else
      out += c;
  }
  return out;
}

bool decodeText(std::string_view field, std::string& out) {
  std::string pairs;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 1 < field.size()) {
      if (field[i + 1] == '0') {
        pairs += '\0';
      } else {
        pairs += field[i];
        pairs += field[i + 1];
      }
      ++i;
    } else {
      pairs += field[i];
    }
  }
  return zkt::unescapeField(pairs, out);
}

bool parseV1(const std::vector<std::string_view>& f, TakenRequests::Entry& e) {
  if (f.size() != 6) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (!zkt::unescapeField(f[3 + i], e.texts[i])) return false;
  }
  // Its reports belong to a program that did not keep whether they arrived: a 4 or 8 of it
  // is not sent again (after an upgrade every old request would be).
  e.entregue = true;
  return true;
}

bool parseV2(const std::vector<std::string_view>& f, TakenRequests::Entry& e) {
  size_t count = 0;
  if (f.size() < 9 || (f[3] != "0" && f[3] != "1") || !number(f[4], e.numero) ||
      !number(f[5], count) || count > TakenRequests::kMaxNsus || f.size() != 9 + count)
    return false;
  e.entregue = f[3] == "1";
  e.nsus.resize(count);
  for (size_t i = 0; i < count; ++i) {
    if (!decodeText(f[6 + i], e.nsus[i])) return false;
  }
  for (size_t i = 0; i < 3; ++i) {
    if (!decodeText(f[6 + count + i], e.texts[i])) return false;
  }
  return true;
}

// One line of the given format (0: either, when the heading does not say).
bool parseEntry(std::string_view line, int version, TakenRequests::Entry& e) {
  if (line.find('\0') != std::string_view::npos) return false;
  const std::vector<std::string_view> f = fieldsOf(line);
  if (f.size() < 6 || !number(f[0], e.id) || !number(f[1], e.status)) return false;
  if (f[2] != "0" && f[2] != "1") return false;
  e.approved = f[2] == "1";
  if (version == 1 || (version == 0 && f.size() == 6)) return parseV1(f, e);
  return parseV2(f, e);
}

std::string lineOf(const TakenRequests::Entry& e) {
  std::string line = std::to_string(e.id) + "\t" + std::to_string(e.status) + "\t" +
                     (e.approved ? "1" : "0") + "\t" + (e.entregue ? "1" : "0") + "\t" +
                     std::to_string(e.numero) + "\t" + std::to_string(e.nsus.size());
  for (const std::string& n : e.nsus) line += "\t" + encodeText(n);
  for (const std::string& t : e.texts) line += "\t" + encodeText(t);
  return line + "\n";
}

std::string two(int n) {
  return std::string(1, static_cast<char>('0' + n / 10 % 10)) + static_cast<char>('0' + n % 10);
}

std::string baseName(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

struct Reading {
  std::vector<TakenRequests::Entry> entries;  // whole lines, oldest first, one an id
  std::vector<std::string> found;  // what is wrong with the file, in words; empty: nothing
  std::vector<int64_t> lost;       // ids of damaged lines that no whole line keeps
};

Reading read(std::string_view bytes) {
  Reading r;
  size_t invalid = 0;
  size_t firstInvalid = 0;
  std::vector<int64_t> damagedIds;
  const auto damagedLine = [&](std::string_view line) {
    int64_t id = 0;
    const size_t tab = line.find('\t');
    if (tab != std::string_view::npos && number(line.substr(0, tab), id)) damagedIds.push_back(id);
  };

  int version = -1;  // not read yet
  size_t lineNo = 0;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = bytes.find('\n', start);
    const std::string_view line =
        bytes.substr(start, end == std::string_view::npos ? end : end - start);
    start = end == std::string_view::npos ? bytes.size() : end + 1;
    ++lineNo;
    if (version < 0) {
      version = 0;
      if (line.substr(0, kCabecalho.size()) == kCabecalho) {
        const std::string_view v = line.substr(kCabecalho.size());
        int other = 0;
        if (v == "1" || v == "2")
          version = v[0] - '0';
        else if (number(v, other))
          r.found.push_back("versao " + std::string(v) + " desconhecida");
      }
      if (version != 0 && end != std::string_view::npos) continue;
      if (version == 0 && r.found.empty()) r.found.push_back("cabecalho invalido");
      // A heading lost to the damage may have taken no line with it: try it as an entry.
    }
    if (end == std::string_view::npos) {
      // No line break after it: the line may have lost its end.
      r.found.push_back("ultima linha cortada");
      damagedLine(line);
      break;
    }
    TakenRequests::Entry e;
    if (parseEntry(line, version, e)) {
      r.entries.push_back(std::move(e));
    } else {
      // A bad heading is told as such, not as an invalid line.
      if (lineNo > 1 && invalid++ == 0) firstInvalid = lineNo;
      damagedLine(line);
    }
  }
  if (invalid > 0)
    r.found.push_back(std::to_string(invalid) +
                      (invalid == 1 ? " linha invalida" : " linhas invalidas") +
                      ", a primeira na linha " + std::to_string(firstInvalid));
  if (bytes.find('\0') != std::string_view::npos) r.found.push_back("bytes nulos");

  // An id has one entry, its latest line's: that one is the newest.
  std::unordered_map<int64_t, size_t> latest;
  for (size_t i = 0; i < r.entries.size(); ++i) latest[r.entries[i].id] = i;
  if (latest.size() != r.entries.size()) {
    std::vector<TakenRequests::Entry> unique;
    unique.reserve(latest.size());
    for (size_t i = 0; i < r.entries.size(); ++i) {
      if (latest[r.entries[i].id] == i) unique.push_back(std::move(r.entries[i]));
    }
    r.entries = std::move(unique);
  }
  std::unordered_set<int64_t> named;
  for (int64_t id : damagedIds) {
    if (!latest.count(id) && named.insert(id).second) r.lost.push_back(id);
  }
  return r;
}

}  // namespace

TakenRequests::TakenRequests(std::string path, size_t maxIds)
    : path_(std::move(path)), maxIds_(std::max<size_t>(maxIds, 1)) {}

void TakenRequests::log(const std::string& mensagem) const {
  if (onLog) onLog(kOperacao, mensagem);
}

void TakenRequests::load() {
  if (loaded_) return;
  std::vector<Entry> entries;
  damagedInPlace_.clear();
  // A folder under the record's name is a file that cannot be read, not a missing one.
  if (plat::fileExists(path_) || plat::dirExists(path_)) {
    std::string bytes;
    try {
      bytes = plat::readBytes(path_);
    } catch (const plat::FileError& e) {
      throw TakenRequestsError(e.what());
    }
    if (bytes.empty()) {
      // What a cut before the first write leaves; the next record writes the heading.
      log("Arquivo " + path_ + " vazio: registro sem requisicoes");
    } else {
      Reading r = read(bytes);
      entries = std::move(r.entries);
      if (!r.found.empty()) mend(bytes, r.found, entries, r.lost);
    }
  }
  entries_ = std::move(entries);
  loaded_ = true;
}

void TakenRequests::mend(const std::string& bytes, const std::vector<std::string>& found,
                         std::vector<Entry>& kept, const std::vector<int64_t>& lost) {
  std::string what;
  for (const std::string& f : found) what += (what.empty() ? "" : "; ") + f;
  log("Arquivo " + path_ + " danificado: " + what);
  if (kept.size() > maxIds_) kept.erase(kept.begin(), kept.end() - static_cast<long>(maxIds_));
  const std::string mantidas = std::to_string(kept.size()) + " requisicoes mantidas";

  const plat::DateTime t = plat::clock().now();
  const std::string dated = path_ + ".danificado-" + std::to_string(t.year) + two(t.month) +
                            two(t.day) + "-" + two(t.hour) + two(t.minute) + two(t.second);
  std::string aside = dated;
  for (int n = 2; plat::fileExists(aside) || plat::dirExists(aside); ++n)
    aside = dated + "-" + std::to_string(n);
  try {
    // Copied rather than renamed: until the fresh record replaces it, the damaged file stays
    // under the record's name, so a cut in between forgets no id.
    plat::writeBytesAtomic(aside, bytes, true);
    plat::setFileTime(aside, plat::fileTime(path_));
  } catch (const plat::FileError& e) {
    damagedInPlace_ = plat::systemErrorText(e.systemError());
    log(mantidas + " so na memoria; o arquivo danificado nao pode ser guardado a parte (" +
        damagedInPlace_ + ") e fica como esta: nenhuma requisicao sera registrada");
  }
  if (damagedInPlace_.empty()) {
    const std::string guardado = "; o arquivo danificado foi guardado como " + baseName(aside);
    try {
      write(kept);
      log(mantidas + guardado);
    } catch (const std::exception& e) {
      // The copy aside is made: the next record writes over the damaged file.
      log(mantidas + guardado + ", mas o registro novo nao pode ser gravado: " + e.what());
    }
  }

  if (lost.empty()) {
    log("Nenhum id perdido");
    return;
  }
  std::string ids;
  for (size_t i = 0; i < lost.size() && i < kIdsListados; ++i)
    ids += (i == 0 ? "" : ", ") + std::to_string(lost[i]);
  if (lost.size() > kIdsListados) ids += " e mais " + std::to_string(lost.size() - kIdsListados);
  log("Ids perdidos, que podem ser realizados de novo: " + ids);
}

void TakenRequests::write(const std::vector<Entry>& entries) const {
  // A rename would replace a read-only file on POSIX; on Windows it is refused.
  if (plat::isReadOnlyFile(path_))
    throw TakenRequestsError("Arquivo " + path_ +
                             " nao pode ser gravado: o arquivo e somente para leitura");
  std::string bytes = std::string(kCabecalho) + std::to_string(kVersao) + "\n";
  for (const Entry& e : entries) bytes += lineOf(e);
  // The TEF texts carry card data: owner only, like the settings file.
  plat::writeBytesAtomic(path_, bytes, true);
}

std::optional<TakenRequests::Entry> TakenRequests::find(int64_t id) {
  load();
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->id == id) return *it;
  }
  return std::nullopt;
}

std::vector<TakenRequests::Entry> TakenRequests::open() {
  load();
  std::vector<Entry> out;
  for (const Entry& e : entries_)
    if (isOpen(e)) out.push_back(e);
  return out;
}

void TakenRequests::record(Entry entry) {
  if (loaded_ && !damagedInPlace_.empty()) loaded_ = false;  // try to keep it aside again
  load();
  if (!damagedInPlace_.empty())
    throw TakenRequestsError(
        "Arquivo " + path_ +
        " danificado nao pode ser guardado a parte para ser regravado: " + damagedInPlace_);
  if (entry.nsus.size() > kMaxNsus)
    throw TakenRequestsError("Requisicao " + std::to_string(entry.id) + " com " +
                             std::to_string(entry.nsus.size()) + " NSUs: o arquivo " + path_ +
                             " guarda no maximo " + std::to_string(kMaxNsus));
  // Only a report that may be sent again needs its texts.
  if (entry.status != 4 && entry.status != 5) entry.texts = {};
  std::vector<Entry> next = entries_;
  std::erase_if(next, [&](const Entry& e) { return e.id == entry.id; });
  next.push_back(std::move(entry));
  if (next.size() > maxIds_) next.erase(next.begin(), next.end() - static_cast<long>(maxIds_));
  write(next);
  entries_ = std::move(next);
}

}  // namespace tefsync
