#include "tools/sitef-sim/sitef_sim.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "common/record_line.h"
#include "platform/clock.h"
#include "platform/encoding.h"
#include "platform/fs.h"

namespace sitefsim {

namespace {

const std::vector<std::string> kTransactionKinds = {"CRT", "CARTDIGI", "ADM", "PRE",
                                                    "PGV", "PCB",      "CEL"};

bool isTransaction(const std::string& op) {
  return std::find(kTransactionKinds.begin(), kTransactionKinds.end(), op) !=
         kTransactionKinds.end();
}

// Only the stand-in writes its files: a bad escape there is read as its character, not refused.
std::string unescape(const std::string& s) {
  std::string out;
  zkt::unescapeField(s, out);
  return out;
}

// Fields of an exchange file by position, the way the engine reads them.
std::map<std::string, std::string> fieldsOf(const std::string& utf8) {
  std::map<std::string, std::string> fields;
  std::string line;
  auto take = [&] {
    const std::u32string u = plat::toU32(line);
    if (u.size() >= 7) {
      const std::string key = plat::fromU32(u.substr(0, 7));
      const std::string value = u.size() > 10 ? plat::fromU32(u.substr(10)) : std::string();
      fields.emplace(key, value);
    }
    line.clear();
  };
  for (char c : utf8) {
    if (c == '\r' || c == '\n') {
      take();
    } else {
      line += c;
    }
  }
  take();
  return fields;
}

std::string findFolder(const std::string& parent, const std::vector<std::string>& names) {
  for (const auto& n : names)
    if (plat::dirExists(parent + "/" + n)) return parent + "/" + n;
  plat::createDir(parent + "/" + names.front());
  return parent + "/" + names.front();
}

std::string pad(int n, int width) {
  std::string s = std::to_string(n);
  while (static_cast<int>(s.size()) < width) s = "0" + s;
  return s;
}

std::string readFileArg(const std::string& path, int lineNo) {
  try {
    return plat::readBytes(path);
  } catch (const plat::FileError& e) {
    throw ScriptError("line " + std::to_string(lineNo) + ": " + e.what());
  }
}

// Splits a rule line into words; double quotes group words and are dropped.
std::vector<std::string> words(const std::string& line, int lineNo) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuotes = false, any = false;
  for (char c : line) {
    if (c == '"') {
      inQuotes = !inQuotes;
      any = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (inQuotes) throw ScriptError("line " + std::to_string(lineNo) + ": unclosed quote");
  if (any) out.push_back(cur);
  return out;
}

long long number(const std::string& key, const std::string& value, int lineNo) {
  if (value.empty() || value.size() > 9 ||
      !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw ScriptError("line " + std::to_string(lineNo) + ": " + key +
                      " needs a whole number, not \"" + value + "\"");
  return std::stoll(value);
}

}  // namespace

std::string scriptHelp() {
  return "Behaviour script: one rule per line, '#' starts a comment.\n"
         "  <KIND> <action> [key=value | flag] ...\n"
         "  KIND: ATV CNF NCN CRT CARTDIGI ADM PRE PGV PCB CEL, * (any transaction), ALL\n"
         "  action: approve | decline | noack | ackonly | late\n"
         "  keys: times=N (0 = always) receipt=N msg=\"text\" network=NAME code=NN\n"
         "        ackdelay=MS delay=MS split=MS stale answerfile=PATH ackfile=PATH\n"
         "Unmatched requests are acknowledged; transactions approved with 2 receipt lines.\n";
}

std::vector<Rule> parseScript(const std::string& text) {
  std::vector<Rule> rules;
  int lineNo = 0;
  for (std::string line : zkt::splitOn(text, '\n')) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto hash = line.find('#');
    if (hash != std::string::npos && line.find('"') > hash) line = line.substr(0, hash);
    const auto w = words(line, lineNo);
    if (w.empty()) continue;
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (w.size() < 2) throw ScriptError(where + "a rule needs a kind and an action");
    Rule r;
    r.kind = w[0];
    if (r.kind != "*" && r.kind != "ALL" && r.kind != "ATV" && r.kind != "CNF" && r.kind != "NCN" &&
        !isTransaction(r.kind))
      throw ScriptError(where + "unknown request kind \"" + r.kind + "\"");
    const std::string& a = w[1];
    if (a == "approve") {
      r.action = Rule::Action::Approve;
    } else if (a == "decline") {
      r.action = Rule::Action::Decline;
    } else if (a == "noack") {
      r.action = Rule::Action::NoAck;
    } else if (a == "ackonly") {
      r.action = Rule::Action::AckOnly;
    } else if (a == "late") {
      r.action = Rule::Action::Late;
      r.answerDelayMs = 30000;
    } else {
      throw ScriptError(where + "unknown action \"" + a + "\"");
    }
    for (size_t i = 2; i < w.size(); ++i) {
      const auto eq = w[i].find('=');
      const std::string key = w[i].substr(0, eq);
      const std::string value = eq == std::string::npos ? std::string() : w[i].substr(eq + 1);
      if (key == "stale" && eq == std::string::npos) {
        r.staleAnswer = true;
      } else if (eq == std::string::npos) {
        throw ScriptError(where + "unknown flag \"" + key + "\"");
      } else if (key == "times") {
        r.times = static_cast<int>(number(key, value, lineNo));
      } else if (key == "receipt") {
        r.receiptLines = static_cast<int>(number(key, value, lineNo));
        if (r.receiptLines > 999) throw ScriptError(where + "receipt is at most 999");
      } else if (key == "msg") {
        r.message = value;
      } else if (key == "network") {
        r.network = value;
      } else if (key == "code") {
        r.declineCode = value;
      } else if (key == "ackdelay") {
        r.ackDelayMs = number(key, value, lineNo);
      } else if (key == "delay") {
        r.answerDelayMs = number(key, value, lineNo);
      } else if (key == "split") {
        r.splitMs = number(key, value, lineNo);
      } else if (key == "answerfile") {
        r.rawAnswer = readFileArg(value, lineNo);
      } else if (key == "ackfile") {
        r.rawAck = readFileArg(value, lineNo);
      } else {
        throw ScriptError(where + "unknown key \"" + key + "\"");
      }
    }
    rules.push_back(std::move(r));
  }
  return rules;
}

// ---- Journal ----

Transaction::State Transaction::state() const {
  if (!needsFinish) return State::NoFinishNeeded;
  if (confirmations > 0 && undos > 0) return State::Both;
  if (confirmations > 0) return State::Confirmed;
  if (undos > 0) return State::Undone;
  return State::Pending;
}

const Transaction* JournalView::byNsu(const std::string& nsu) const {
  for (const auto& t : transactions)
    if (t.nsu == nsu) return &t;
  return nullptr;
}

std::vector<std::string> JournalView::finishes() const {
  std::vector<std::string> out;
  for (const auto& r : requests)
    if ((r.op == "CNF" || r.op == "NCN") && r.action == "ack") out.push_back(r.op + " " + r.nsu);
  return out;
}

namespace {

std::string fieldOfRequest(const std::string& raw, const std::string& key) {
  const auto f = fieldsOf(raw);
  const auto it = f.find(key);
  return it == f.end() ? std::string() : it->second;
}

}  // namespace

JournalView readJournal(const std::string& path) {
  JournalView view;
  if (!plat::fileExists(path)) return view;
  const std::string text = plat::readBytes(path);
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a torn last line is not a record
    const auto f = zkt::splitOn(text.substr(start, end - start), '\t');
    start = end + 1;
    std::vector<std::string> v;
    for (const auto& x : f) v.push_back(unescape(x));
    if (v[0] == "CUT") {
      ++view.cuts;
    } else if (v[0] == "REQ" && v.size() >= 5) {
      view.requests.push_back(
          {v[1], v[2], v[3], v[4], v.size() > 5 ? v[5] : std::string(), view.cuts});
      const auto& r = view.requests.back();
      if ((r.op == "CNF" || r.op == "NCN") && r.action == "ack") {
        // An undo names the transaction by its answer's identifier as well as its NSU.
        const std::string id = v.size() > 5 ? fieldOfRequest(r.raw, "001-000") : r.id;
        std::string why = r.op + " " + r.nsu;
        bool found = false;
        for (auto& t : view.transactions) {
          if (r.nsu.empty() || t.nsu != r.nsu) continue;
          if (r.op == "NCN" && id != t.id) {
            why += " id " + id;
            continue;
          }
          (r.op == "CNF" ? t.confirmations : t.undos)++;
          t.finishes.push_back(view.requests.size() - 1);
          found = true;
        }
        if (!found) view.orphanFinishes.push_back(why);
      }
    } else if (v[0] == "TXN" && v.size() >= 6) {
      Transaction t;
      t.nsu = v[1];
      t.id = v[2];
      t.op = v[3];
      t.cents = v[4];
      t.needsFinish = v[5] == "1";
      view.transactions.push_back(t);
    }
  }
  return view;
}

void journalCut(const std::string& path) {
  {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << "CUT\n";
  }
  plat::flushFile(path);
}

std::string endFaults(const Transaction& t, bool confirm) {
  std::string bad;
  const std::string who = " transaction " + t.nsu + " (" + t.op + " " + t.id + ")";
  const auto state = t.state();
  if (state == Transaction::State::Both) bad += who + " confirmed and undone";
  if (state == Transaction::State::Pending) bad += who + " left pending";
  if (t.needsFinish && state == Transaction::State::Confirmed && !confirm)
    bad += who + " confirmed though its confirmation was never given";
  if (t.needsFinish && state == Transaction::State::Undone && confirm)
    bad += who + " undone though its confirmation was given";
  if (!t.needsFinish && t.confirmations > 0 && !confirm) bad += who + " confirmed unasked";
  return bad;
}

std::string report(const JournalView& view) {
  std::string out;
  for (const auto& t : view.transactions) {
    std::string state;
    switch (t.state()) {
      case Transaction::State::NoFinishNeeded:
        state = "none";
        break;
      case Transaction::State::Pending:
        state = "pending";
        break;
      case Transaction::State::Confirmed:
        state = t.finishedTwice() ? "confirmed twice" : "confirmed";
        break;
      case Transaction::State::Undone:
        state = t.finishedTwice() ? "undone twice" : "undone";
        break;
      case Transaction::State::Both:
        state = "both";
        break;
    }
    out += t.nsu + " " + t.op + " " + t.id + " " + state + "\n";
  }
  for (const auto& o : view.orphanFinishes) out += "orphan " + o + "\n";
  return out;
}

// ---- The manager ----

Simulator::Simulator(const std::string& driveC, std::vector<Rule> rules, std::string journalPath)
    : journalPath_(std::move(journalPath)), rules_(std::move(rules)) {
  const std::string client = findFolder(driveC, {"Client", "CLIENT", "client"});
  reqDir_ = findFolder(client, {"REQ", "Req", "req"});
  respDir_ = findFolder(client, {"RESP", "Resp", "resp"});
  // NSUs go on from an earlier run over the same journal.
  approvals_ = static_cast<int>(readJournal(journalPath_).transactions.size());
}

Rule Simulator::takeRule(const std::string& op) {
  for (auto& r : rules_) {
    if (r.times < 0) continue;
    const bool matches = r.kind == op || r.kind == "ALL" || (r.kind == "*" && isTransaction(op));
    if (!matches) continue;
    Rule chosen = r;
    if (r.times > 0 && --r.times == 0) r.times = -1;  // used up
    return chosen;
  }
  return Rule{};
}

void Simulator::journal(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += '\t';
    line += zkt::escapeField(fields[i]);
  }
  {
    std::ofstream out(journalPath_, std::ios::app | std::ios::binary);
    out << line << '\n';
    if (!out) throw std::runtime_error("sitef-sim: cannot append to journal " + journalPath_);
  }
  plat::flushFile(journalPath_);
}

std::string Simulator::answer(const Rule& rule, const std::string& op, const std::string& id,
                              const std::string& coupon, const std::string& cents,
                              const std::string& nsu, bool approved) const {
  const plat::DateTime now = plat::clock().now();
  std::vector<std::pair<std::string, std::string>> f = {
      {"000-000", op},
      {"001-000", id},
      {"002-000", coupon},
      {"003-000", cents},
      {"004-000", "0"},
      {"009-000", approved ? "0" : rule.declineCode},
      {"010-000", rule.network},
      {"011-000", "00"},
      {"012-000", nsu},
      {"013-000", approved ? "A" + nsu.substr(nsu.size() > 6 ? nsu.size() - 6 : 0) : ""},
      {"022-000", pad(now.day, 2) + pad(now.month, 2) + pad(now.year, 4)},
      {"023-000", pad(now.hour, 2) + pad(now.minute, 2) + pad(now.second, 2)},
      {"027-000", approved ? "FIN" + nsu : ""},
  };
  const int lines = approved ? rule.receiptLines : 0;
  f.push_back({"028-000", std::to_string(lines)});
  for (int i = 1; i <= lines; ++i)
    f.push_back({"029-" + pad(i, 3),
                 "\"COMPROVANTE " + op + " NSU " + nsu + " LINHA " + std::to_string(i) + "\""});
  std::string msg = rule.message;
  if (msg.empty()) msg = approved ? "TRANSACAO APROVADA" : "Transação negada";
  f.push_back({"030-000", msg});
  f.push_back({"040-000", "MASTERCARD"});
  f.push_back({"300-000", "01012030"});
  f.push_back({"999-999", "0"});
  std::string text;
  for (const auto& [k, v] : f) text += k + " = " + v + "\r\n";
  return plat::utf8ToCp1252(text);
}

void Simulator::handle(const std::string& requestBytes, const Rule& rule) {
  const auto fields = fieldsOf(plat::cp1252ToUtf8(requestBytes));
  auto field = [&](const std::string& k) {
    const auto it = fields.find(k);
    return it == fields.end() ? std::string() : it->second;
  };
  const std::string op = field("000-000");
  const std::string id = field("001-000");
  const int64_t now = plat::clock().monotonicMs();
  const std::string stsPath = respDir_ + "/INTPOS.STS";
  const std::string ansPath = respDir_ + "/INTPOS.001";
  const std::string ack =
      rule.rawAck
          ? *rule.rawAck
          : plat::utf8ToCp1252("000-000 = " + op + "\r\n001-000 = " + id + "\r\n999-999 = 0\r\n");
  const int64_t ackAt = now + rule.ackDelayMs;

  std::string action;
  switch (rule.action) {
    case Rule::Action::NoAck:
      action = "noack";
      break;
    case Rule::Action::AckOnly:
      action = "ackonly";
      break;
    case Rule::Action::Late:
      action = isTransaction(op) ? "late" : "noack";
      break;
    case Rule::Action::Decline:
      action = isTransaction(op) ? "decline" : "ack";
      break;
    case Rule::Action::Approve:
      action = isTransaction(op) ? "approve" : "ack";
      break;
  }
  std::string nsu = field("012-000");
  const bool approves = action == "approve" || action == "late";
  if (approves) nsu = std::to_string(100000 + ++approvals_);
  if (action == "decline") nsu.clear();
  // The journal comes first: whatever the engine sees afterwards is on record.
  journal({"REQ", op, id, nsu, action, plat::cp1252ToUtf8(requestBytes)});
  if (approves) journal({"TXN", nsu, id, op, field("003-000"), rule.receiptLines > 0 ? "1" : "0"});

  if (action == "noack") return;
  if (action == "late") {
    const std::string bytes =
        rule.rawAnswer ? *rule.rawAnswer
                       : answer(rule, op, id, field("002-000"), field("003-000"), nsu, true);
    journal({"ANS", nsu, id, plat::cp1252ToUtf8(bytes)});
    events_.push_back({now + rule.answerDelayMs, ansPath, bytes});
    return;
  }
  events_.push_back({ackAt, stsPath, ack});
  if (action != "approve" && action != "decline") return;
  const int64_t answerAt =
      ackAt + (rule.staleAnswer && rule.answerDelayMs == 0 ? 3000 : rule.answerDelayMs);
  if (rule.staleAnswer) {
    Rule old = rule;
    old.receiptLines = 1;
    const std::string staleId = id == "000000" ? "235959" : "000000";
    events_.push_back({ackAt, ansPath, answer(old, op, staleId, "1", "100", "99" + nsu, true)});
  }
  const std::string bytes = rule.rawAnswer ? *rule.rawAnswer
                                           : answer(rule, op, id, field("002-000"),
                                                    field("003-000"), nsu, action == "approve");
  // The answer as written, so a test can compare what the cloud was sent with it.
  journal({"ANS", nsu, id, plat::cp1252ToUtf8(bytes)});
  if (rule.splitMs >= 0) {
    // The first part stops before the result line (or halfway through a raw answer).
    size_t cut = bytes.find("\r\n009-000");
    cut = cut == std::string::npos ? bytes.size() / 2 : cut + 2;
    events_.push_back({answerAt, ansPath, bytes.substr(0, cut)});
    events_.push_back({answerAt + rule.splitMs, ansPath, bytes});
  } else {
    events_.push_back({answerAt, ansPath, bytes});
  }
}

void Simulator::saveOwed() {
  std::string text;
  for (const auto& e : events_)
    text += "EVT\t" + zkt::escapeField(e.path) + "\t" + zkt::escapeField(e.bytes) + "\n";
  if (!opened_.empty()) text += "OPENED\t" + zkt::escapeField(opened_) + "\n";
  if (text == owed_) return;
  owed_ = text;
  if (text.empty())
    plat::deleteFile(owedPath());
  else
    plat::writeBytesAtomic(owedPath(), text);
}

void Simulator::deliverOwed() {
  acting_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{acting_};
  if (!plat::fileExists(owedPath())) return;
  const std::string text = plat::readBytes(owedPath());
  const std::string reqPath = reqDir_ + "/INTPOS.001";
  for (const auto& line : zkt::splitOn(text, '\n')) {
    const auto f = zkt::splitOn(line, '\t');
    if (f[0] == "EVT" && f.size() == 3) plat::writeBytesAtomic(unescape(f[1]), unescape(f[2]));
    if (f[0] == "OPENED" && f.size() == 2 && plat::fileExists(reqPath) &&
        plat::readBytes(reqPath) == unescape(f[1]))
      plat::deleteFile(reqPath);
  }
  plat::deleteFile(owedPath());
}

void Simulator::step() {
  if (!running_) return;
  acting_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{acting_};
  const std::string reqPath = reqDir_ + "/INTPOS.001";
  if (plat::fileExists(reqPath)) {
    const std::string bytes = plat::readBytes(reqPath);
    if (bytes != opened_) {
      opened_.clear();
      const std::string op = fieldsOf(plat::cp1252ToUtf8(bytes))["000-000"];
      const Rule rule = takeRule(op);
      // A late manager opens the request and leaves it where it is.
      if (rule.action == Rule::Action::Late && isTransaction(op))
        opened_ = bytes;
      else
        plat::deleteFile(reqPath);
      handle(bytes, rule);
    }
  } else {
    opened_.clear();
  }
  const int64_t now = plat::clock().monotonicMs();
  // Due events in the order they were made; a later one may replace an earlier file.
  std::stable_sort(events_.begin(), events_.end(),
                   [](const Event& a, const Event& b) { return a.dueMs < b.dueMs; });
  while (!events_.empty() && events_.front().dueMs <= now) {
    const Event e = events_.front();
    events_.erase(events_.begin());
    plat::writeBytesAtomic(e.path, e.bytes);
  }
  saveOwed();
}

}  // namespace sitefsim
