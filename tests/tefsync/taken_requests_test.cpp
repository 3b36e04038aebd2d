// The record of requests taken to a sale: on disk, and in the cycle that never sells one
// request twice.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "platform/fs.h"
#include "service_fixture.h"
#include "tefsync/core/TakenRequests.h"

namespace {

using namespace std::string_literals;
using tefsync::TakenRequests;
using Entry = TakenRequests::Entry;
using State = sitefsim::Transaction::State;

std::string shown(const std::optional<Entry>& e) {
  if (!e) return "none";
  std::string s = std::to_string(e->id) + " sts " + std::to_string(e->status) +
                  (e->approved ? " approved" : "") + " numero " + std::to_string(e->numero) +
                  " nsus";
  for (const std::string& n : e->nsus) s += " [" + n + "]";
  for (const std::string& t : e->texts) s += " |" + t;
  return s;
}

// The dated name a damaged record is kept under, on the fixture's clock.
const char* const kAside = ".danificado-20240307-090504";

class Record : public ::testing::Test {
 protected:
  Record() {
    std::random_device rd;
    dir_ = testsupport::tempRoot() / ("taken_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  ~Record() override {
    plat::setFsOpHook(nullptr);
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string path() const { return (dir_ / TakenRequests::kArquivo).string(); }
  static std::string read(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string onDisk() const { return read(path()); }
  void put(const std::string& bytes) const { std::ofstream(path(), std::ios::binary) << bytes; }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& f : fs::directory_iterator(dir_)) out.push_back(f.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  // A record whose log rows go to rows.
  TakenRequests make(size_t maxIds = TakenRequests::kMaxIds) {
    TakenRequests r(path(), maxIds);
    r.onLog = [this](const std::string& op, const std::string& m) { rows.emplace_back(op, m); };
    return r;
  }
  // False where the system lets this process write whatever the permissions say (root).
  bool permissionsHold() {
    const fs::path probe = dir_ / "probe";
    fs::create_directories(probe);
    fs::permissions(probe, fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream(probe / "x") << "x";
    const bool held = !fs::exists(probe / "x");
    fs::permissions(probe, fs::perms::owner_all);
    fs::remove_all(probe);
    return held;
  }

  plat::VirtualClock clock{plat::DateTime{2024, 3, 7, 9, 5, 4, 0}};
  plat::ScopedClock scoped{clock};
  Lines rows;
  fs::path dir_;
};

TEST_F(Record, SurvivesARestartWithItsTextsByteForByte) {
  const std::string text = "000-000 = CRT\r\n030-000 = \"Aprovação\"\tC:\\x \\u00e\\0\0 nul\n"s;
  const std::string nsu = "1234\t5\\0\0"s;
  {
    TakenRequests r(path());
    EXPECT_FALSE(r.find(57).has_value());
    r.record({57, 3, false, {"dropped", "", ""}, 1057, {}});
    r.record({58, 4, true, {text, "", ""}, 1058, {"100001"}});
    r.record({57, 5, true, {text, "segundo", ""}, 1057, {"100002", nsu, ""}});
    r.record({59, 8, true, {text, "", ""}, 1059, {"100004"}});
  }
  TakenRequests again(path());
  EXPECT_EQ(shown(again.find(57)),
            shown(Entry{57, 5, true, {text, "segundo", ""}, 1057, {"100002", nsu, ""}}));
  EXPECT_EQ(shown(again.find(58)), shown(Entry{58, 4, true, {text, "", ""}, 1058, {"100001"}}));
  // A finished sale's report needs no texts; its number and NSUs stay.
  EXPECT_EQ(shown(again.find(59)), shown(Entry{59, 8, true, {}, 1059, {"100004"}}));
  const std::string bytes = onDisk();
  EXPECT_EQ(bytes.substr(0, 22), "tefsync requisicoes 2\n");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4);  // a heading, then a line an id
  EXPECT_EQ(bytes.find('\0'), std::string::npos);              // a NUL on disk is damage
#ifndef _WIN32  // on Windows a file takes its folder's permissions
  // It holds card data: owner only.
  EXPECT_EQ(fs::status(path()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_THROW(again.record({60, 8, true, {}, 1060, {"1", "2", "3", "4"}}),
               tefsync::TakenRequestsError);
  EXPECT_EQ(onDisk(), bytes);
}

TEST_F(Record, AFirstFormatFileIsReadAsItWasAndWrittenInTheNewOne) {
  const std::string v1 = "tefsync requisicoes 1\n57\t5\t1\ta\\tb\\\\\t\\n\t\n58\t8\t1\t\t\t\n";
  put(v1);
  TakenRequests r = make();
  EXPECT_EQ(shown(r.find(57)), shown(Entry{57, 5, true, {"a\tb\\", "\n", ""}}));
  EXPECT_EQ(shown(r.find(58)), shown(Entry{58, 8, true, {}}));
  // Only the sale left at 5 is open: an old program's final reports are not sent again.
  ASSERT_EQ(r.open().size(), 1u);
  EXPECT_EQ(r.open()[0].id, 57);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(onDisk(), v1);
  EXPECT_EQ(names(), (std::vector<std::string>{TakenRequests::kArquivo}));
  r.record({59, 3, false, {}, 1059, {}});
  TakenRequests again = make();
  EXPECT_EQ(shown(again.find(57)), shown(Entry{57, 5, true, {"a\tb\\", "\n", ""}}));
  EXPECT_TRUE(again.find(58).has_value());
  EXPECT_EQ(shown(again.find(59)), shown(Entry{59, 3, false, {}, 1059, {}}));
  EXPECT_EQ(onDisk().substr(0, 22), "tefsync requisicoes 2\n");
  EXPECT_TRUE(rows.empty());
}

TEST_F(Record, KeepsTheMostRecentIds) {
  TakenRequests r(path(), 3);
  for (int64_t id : {1, 2, 3, 4, 2, 5}) r.record({id, 8, true, {}});
  TakenRequests again(path(), 3);
  for (int64_t id : {1, 3}) EXPECT_FALSE(again.find(id).has_value()) << id;
  for (int64_t id : {2, 4, 5}) EXPECT_TRUE(again.find(id).has_value()) << id;

  // A whole file with more ids than kept is no damage: all are read, the next write keeps
  // the newest.
  put("tefsync requisicoes "
      "2\n1\t8\t1\t1\t0\t0\t\t\t\n2\t8\t1\t1\t0\t0\t\t\t\n3\t8\t1\t1\t0\t0\t\t\t\n"
      "4\t8\t1\t1\t0\t0\t\t\t\n5\t8\t1\t1\t0\t0\t\t\t\n");
  TakenRequests big = make(3);
  for (int64_t id : {1, 2, 3, 4, 5}) EXPECT_TRUE(big.find(id).has_value()) << id;
  EXPECT_TRUE(rows.empty());
  big.record({6, 8, true, {}});
  TakenRequests after(path(), 3);
  for (int64_t id : {1, 2, 3}) EXPECT_FALSE(after.find(id).has_value()) << id;
  for (int64_t id : {4, 5, 6}) EXPECT_TRUE(after.find(id).has_value()) << id;
}

TEST(TakenRequestsRule, OnlyNotCarriedOutBeforeAnyApprovalMayBeTakenAgain) {
  struct Case {
    int status;
    bool approved;
    bool again;
  } cases[] = {{4, false, true}, {4, true, false}, {3, false, false},
               {5, true, false}, {8, true, false}, {8, false, false}};
  for (const Case& c : cases)
    EXPECT_EQ(TakenRequests::mayTakeAgain({1, c.status, c.approved, {}}), c.again)
        << c.status << " " << c.approved;
}

TEST_F(Record, OpenListsTheRequestsNotEndedOldestFirst) {
  TakenRequests r(path());
  r.record({57, 3, false, {}, 1057, {}});
  r.record({58, 5, true, {"t", "", ""}, 1058, {"100001", "100002"}});
  r.record({59, 4, true, {"m", "", ""}, 1059, {"100003"}, true});
  r.record({60, 8, true, {}, 1060, {"100004"}, true});
  r.record({61, 3, false, {}, 1061, {}});
  r.record({57, 5, true, {"u", "", ""}, 1057, {"100005"}});  // now the newest
  const auto ids = [](const std::vector<Entry>& es) {
    std::vector<std::string> out;
    for (const Entry& e : es) out.push_back(shown(e));
    return out;
  };
  const std::vector<std::string> open = {
      shown(Entry{58, 5, true, {"t", "", ""}, 1058, {"100001", "100002"}}),
      shown(Entry{61, 3, false, {}, 1061, {}}),
      shown(Entry{57, 5, true, {"u", "", ""}, 1057, {"100005"}})};
  EXPECT_EQ(ids(r.open()), open);
  TakenRequests again(path());
  EXPECT_EQ(ids(again.open()), open);
  // A decision taken, and a last report that has not reached the cloud, keep it open.
  again.record({58, 7, true, {}, 1058, {"100001", "100002"}});
  EXPECT_EQ(again.open().size(), 3u);
  again.record({58, 8, true, {}, 1058, {"100001", "100002"}});
  EXPECT_EQ(TakenRequests(path()).open().size(), 3u);
  again.record({58, 8, true, {}, 1058, {"100001", "100002"}, true});
  EXPECT_EQ(TakenRequests(path()).open().size(), 2u);
  EXPECT_TRUE(TakenRequests(path() + ".none").open().empty());
}

// A record written by the program, then damaged as a disk or a backup tool leaves it.
class Damaged : public Record {
 protected:
  Damaged() {
    TakenRequests r(path());
    for (const Entry& e : {e57, e58, e59}) r.record(e);
    intact = onDisk();
  }
  const Entry e57{57, 8, true, {}, 1057, {"100001"}};
  const Entry e58{58, 5, true, {"000-000 = CRT\r\n", "b", ""}, 1058, {"100002", "100003"}};
  const Entry e59{59, 3, false, {}, 1059, {}};
  std::string intact;  // its lines in that order, 59 last
};

TEST_F(Damaged, TheWholeLinesAreKeptTheFileSetAsideAndTheLostIdsNamed) {
  struct Case {
    const char* name;
    std::function<std::string(const std::string& intact)> damage;
    std::vector<Entry> kept;
    std::vector<int64_t> lost;
    std::string found;  // in the first row
  };
  const auto replaceLine = [](const std::string& s, int n, const std::string& with) {
    size_t start = 0;
    for (int i = 0; i < n; ++i) start = s.find('\n', start) + 1;
    return s.substr(0, start) + with + s.substr(s.find('\n', start));
  };
  std::string many;  // a hundred lines whose ids are readable and the rest is not
  for (int id = 1000; id < 1100; ++id) many += std::to_string(id) + "\t\xff\n";
  const Case cases[] = {
      {"cut last line",
       [](const std::string& s) { return s.substr(0, s.size() - 4); },
       {e57, e58},
       {59},
       "ultima linha cortada"},
      {"garbage bytes",
       [&](const std::string& s) {
         return replaceLine(s, 2, "58\t\xff\xfe\x01garbage").insert(22, "\xde\xad\xbe\xef\t\n");
       },
       {e57, e59},
       {58},
       "2 linhas invalidas, a primeira na linha 2"},
      {"a zeroed block",
       [&](const std::string& s) {
         const std::string l57 = s.substr(22, s.find('\n', 22) - 22);
         return replaceLine(s, 1, "57\t" + std::string(l57.size() - 3, '\0')) +
                std::string(512, '\0');
       },
       {e58, e59},
       {57},
       "bytes nulos"},
      {"bad heading",
       [](const std::string& s) { return "\xef\xbb\xbfx" + s.substr(21); },
       {e57, e58, e59},
       {},
       "cabecalho invalido"},
      {"heading lost with its line",
       [](const std::string& s) { return s.substr(22); },
       {e57, e58, e59},
       {},
       "cabecalho invalido"},
      {"unknown version",
       [](const std::string& s) { return "tefsync requisicoes 9" + s.substr(21); },
       {e57, e58, e59},
       {},
       "versao 9 desconhecida"},
      {"first-format lines that do not parse",
       [](const std::string&) {
         return "tefsync requisicoes 1\n57\t8\t2\t\t\t\n58\t5\t1\ta\\qb\t\t\n59\t5\t1\t\t\n"
                "x\t8\t1\t\t\t\n60\t8\t1\t\t\t\n"s;
       },
       {Entry{60, 8, true, {}, 0, {}, true}},  // an old program's report: delivered
       {57, 58, 59},
       "4 linhas invalidas, a primeira na linha 2"},
      {"the newest line of an id wins",
       [](const std::string& s) { return s + "57\t5\t1\t0\t1057\t0\tnovo\t\t\n\xff\n"; },
       {e58, e59, Entry{57, 5, true, {"novo", "", ""}, 1057, {}}},
       {},
       "1 linha invalida, a primeira na linha 6"},
      {"very large",
       [&](const std::string& s) {
         std::mt19937 random(7);
         std::string garbage;
         while (garbage.size() < (10u << 20))
           garbage += (random() % 100 == 0) ? '\n' : static_cast<char>(0x80 + random() % 0x80);
         return s + garbage + "\n" + many;
       },
       {e57, e58, e59},
       [] {
         std::vector<int64_t> ids;
         for (int64_t id = 1000; id < 1100; ++id) ids.push_back(id);
         return ids;
       }(),
       "linhas invalidas"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string damaged = c.damage(intact);
    put(damaged);
    rows.clear();
    TakenRequests r = make();
    for (const Entry& e : c.kept) EXPECT_EQ(shown(r.find(e.id)), shown(e));
    for (int64_t id : c.lost) EXPECT_FALSE(r.find(id).has_value()) << id;

    // Kept aside byte for byte, never deleted.
    EXPECT_EQ(names(), (std::vector<std::string>{TakenRequests::kArquivo,
                                                 TakenRequests::kArquivo + std::string(kAside)}));
    EXPECT_TRUE(read(path() + kAside) == damaged);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows) EXPECT_EQ(row.first, "Registro de requisicoes");
    EXPECT_NE(rows[0].second.find("Arquivo " + path() + " danificado"), std::string::npos)
        << rows[0].second;
    EXPECT_NE(rows[0].second.find(c.found), std::string::npos) << rows[0].second;
    EXPECT_EQ(rows[1].second, std::to_string(c.kept.size()) +
                                  " requisicoes mantidas; o arquivo danificado foi guardado como " +
                                  TakenRequests::kArquivo + kAside);
    std::string lost;
    for (size_t i = 0; i < c.lost.size() && i < 30; ++i)
      lost += (i ? ", " : "") + std::to_string(c.lost[i]);
    if (c.lost.size() > 30) lost += " e mais " + std::to_string(c.lost.size() - 30);
    EXPECT_EQ(rows[2].second, c.lost.empty()
                                  ? "Nenhum id perdido"
                                  : "Ids perdidos, que podem ser realizados de novo: " + lost);

    // The fresh record is whole and holds what was kept.
    rows.clear();
    TakenRequests again = make();
    for (const Entry& e : c.kept) EXPECT_EQ(shown(again.find(e.id)), shown(e));
    EXPECT_EQ(again.open().size(), static_cast<size_t>(std::count_if(c.kept.begin(), c.kept.end(),
                                                                     TakenRequests::isOpen)));
    EXPECT_TRUE(rows.empty()) << rows.front().second;
    again.record({70, 8, true, {}});
    EXPECT_TRUE(TakenRequests(path()).find(70).has_value());
    fs::remove(path() + kAside);
  }
}

TEST_F(Damaged, AnEmptyFileIsAnEmptyRecord) {
  put("");
  TakenRequests r = make();
  EXPECT_FALSE(r.find(57).has_value());
  EXPECT_EQ(rows, (Lines{{"Registro de requisicoes",
                          "Arquivo " + path() + " vazio: registro sem requisicoes"}}));
  EXPECT_EQ(names(), (std::vector<std::string>{TakenRequests::kArquivo}));
  r.record({60, 3, false, {}, 1060, {}});
  EXPECT_EQ(onDisk(), "tefsync requisicoes 2\n60\t3\t0\t0\t1060\t0\t\t\t\n");
}

TEST_F(Damaged, ANameAlreadyTakenAsideGetsASuffix) {
  const std::string cut = intact.substr(0, intact.size() - 1);
  for (const std::string& kept : {"earlier"s, "earlier too"s}) {
    std::ofstream(path() + kAside + (kept == "earlier" ? "" : "-2"), std::ios::binary) << kept;
  }
  put(cut);
  TakenRequests r = make();
  EXPECT_TRUE(r.find(58).has_value());
  EXPECT_EQ(read(path() + kAside), "earlier");
  EXPECT_EQ(read(path() + kAside + "-2"), "earlier too");
  EXPECT_TRUE(read(path() + kAside + "-3") == cut);
  EXPECT_NE(rows.at(1).second.find(TakenRequests::kArquivo + std::string(kAside) + "-3"),
            std::string::npos);
}

TEST_F(Damaged, AFileThatCannotBeReadIsLeftAsItIs) {
  fs::remove(path());
  fs::create_directories(dir_ / TakenRequests::kArquivo / "x");
  TakenRequests r = make();
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      r.find(57);
      ADD_FAILURE() << "read";
    } catch (const tefsync::TakenRequestsError& e) {
      EXPECT_NE(std::string(e.what()).find(path()), std::string::npos) << e.what();
    }
    EXPECT_THROW(r.open(), tefsync::TakenRequestsError);
    EXPECT_THROW(r.record({60, 3, false, {}}), tefsync::TakenRequestsError);
  }
  EXPECT_TRUE(fs::is_directory(dir_ / TakenRequests::kArquivo / "x"));
  EXPECT_EQ(names(), (std::vector<std::string>{TakenRequests::kArquivo}));
  EXPECT_TRUE(rows.empty());
  // Read again at the next use, once it can be.
  fs::remove_all(path());
  put(intact);
  EXPECT_EQ(shown(r.find(58)), shown(e58));
}

TEST_F(Damaged, AReadOnlyFileIsNotReplaced) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(path(), write, fs::perm_options::remove);
  TakenRequests r = make();
  ASSERT_TRUE(r.find(57).has_value());
  try {
    r.record({60, 3, false, {}, 1060, {}});
    ADD_FAILURE() << "recorded";
  } catch (const tefsync::TakenRequestsError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Arquivo " + path() + " nao pode ser gravado: o arquivo e somente para leitura");
  }
  EXPECT_FALSE(r.find(60).has_value());  // the entries are as they were
  EXPECT_EQ(shown(r.find(58)), shown(e58));
  EXPECT_EQ(onDisk(), intact);

  // Damaged and read-only: kept aside, the whole lines kept in memory, not written over.
  fs::permissions(path(), fs::perms::owner_write, fs::perm_options::add);
  put(intact.substr(0, intact.size() - 1));
  fs::permissions(path(), write, fs::perm_options::remove);
  rows.clear();
  TakenRequests damaged = make();
  EXPECT_EQ(shown(damaged.find(58)), shown(e58));
  EXPECT_TRUE(read(path() + kAside) == onDisk());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_NE(rows[1].second.find("mas o registro novo nao pode ser gravado"), std::string::npos)
      << rows[1].second;
  EXPECT_THROW(damaged.record({60, 3, false, {}}), tefsync::TakenRequestsError);
  EXPECT_EQ(onDisk(), intact.substr(0, intact.size() - 1));
  fs::permissions(path(), fs::perms::owner_write, fs::perm_options::add);
  damaged.record({60, 3, false, {}});  // writable again: the fresh record goes over it
  EXPECT_EQ(shown(TakenRequests(path()).find(59)), shown(std::nullopt));
  EXPECT_TRUE(TakenRequests(path()).find(60).has_value());
}

TEST_F(Damaged, InAFolderThatCannotBeWrittenNothingIsLostOrWrittenOver) {
  struct Case {
    const char* name;
    std::function<bool()> block;  // false: cannot be tried here
    std::function<void()> unblock;
  };
  const Case cases[] = {
      {"read-only folder",
       [&] {
         if (!permissionsHold()) return false;
         fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
         return true;
       },
       [&] { fs::permissions(dir_, fs::perms::owner_all); }},
      // Wherever permissions do not hold: each change fails as a read-only folder's would.
      {"every change refused",
       [&] {
         plat::setFsOpHook([&] { throw plat::FileError(plat::FileAction::Write, path(), 13); });
         return true;
       },
       [] { plat::setFsOpHook(nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    put(intact);
    TakenRequests whole = make();
    ASSERT_TRUE(whole.find(57).has_value());
    if (!c.block()) continue;
    EXPECT_THROW(whole.record({60, 3, false, {}}), plat::FileError);
    EXPECT_FALSE(whole.find(60).has_value());
    EXPECT_EQ(onDisk(), intact);
    c.unblock();

    const std::string cut = intact.substr(0, intact.size() - 1);
    put(cut);
    rows.clear();
    c.block();
    TakenRequests r = make();
    EXPECT_EQ(shown(r.find(58)), shown(e58));  // the whole lines, in memory
    EXPECT_EQ(shown(r.find(57)), shown(e57));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[1].second.find("2 requisicoes mantidas so na memoria; o arquivo danificado "
                                  "nao pode ser guardado a parte"),
              std::string::npos)
        << rows[1].second;
    EXPECT_EQ(rows[2].second, "Ids perdidos, que podem ser realizados de novo: 59");
    try {
      r.record({60, 3, false, {}});
      ADD_FAILURE() << "recorded";
    } catch (const tefsync::TakenRequestsError& e) {
      EXPECT_NE(std::string(e.what()).find(path() + " danificado"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(r.find(60).has_value());
    EXPECT_EQ(onDisk(), cut);
    EXPECT_EQ(names(), (std::vector<std::string>{TakenRequests::kArquivo}));
    c.unblock();
    // Once the folder can be written, the next record keeps it aside and goes on.
    r.record({60, 3, false, {}});
    EXPECT_TRUE(read(path() + kAside) == cut);
    EXPECT_TRUE(TakenRequests(path()).find(60).has_value());
    EXPECT_TRUE(TakenRequests(path()).find(58).has_value());
    fs::remove(path() + kAside);
  }
}

TEST_F(Record, ACrashAtAnyFileOperationLeavesTheOldOrTheNewRecord) {
  {
    TakenRequests r(path());
    r.record({57, 5, true, {"t1", "t2", ""}, 1057, {"100001"}});
  }
  const std::string before = onDisk();
  struct Cut {};
  for (int cut = 0;; ++cut) {
    put(before);
    TakenRequests r(path());
    ASSERT_TRUE(r.find(57).has_value());  // loaded before the cut
    int ops = 0;
    plat::setFsOpHook([&] {
      if (ops++ == cut) throw Cut{};
    });
    bool finished = true;
    try {
      r.record({58, 3, false, {}});
    } catch (const Cut&) {
      finished = false;
    }
    plat::setFsOpHook(nullptr);
    TakenRequests after(path());
    ASSERT_TRUE(after.find(57).has_value()) << cut;
    EXPECT_EQ(after.find(57)->texts[1], "t2") << cut;
    if (finished) {
      EXPECT_TRUE(after.find(58).has_value());
      EXPECT_GT(cut, 0);
      break;
    }
    EXPECT_TRUE(onDisk() == before || after.find(58).has_value()) << cut;
  }
}

TEST_F(Damaged, ACrashWhileMendingForgetsNoIntactId) {
  const std::string damaged = intact + "\xff\n" + "60\t8\t1\t1060\t0\t\t\t";
  struct Cut {};
  for (int cut = 0;; ++cut) {
    for (const auto& f : fs::directory_iterator(dir_)) fs::remove(f.path());
    put(damaged);
    int ops = 0;
    plat::setFsOpHook([&] {
      if (ops++ == cut) throw Cut{};
    });
    bool finished = true;
    try {
      make().find(57);
    } catch (const Cut&) {
      finished = false;
    }
    plat::setFsOpHook(nullptr);
    TakenRequests after(path());  // the start after the cut
    for (const Entry& e : {e57, e58, e59}) EXPECT_EQ(shown(after.find(e.id)), shown(e)) << cut;
    if (finished) {
      EXPECT_GT(cut, 0);
      EXPECT_TRUE(read(path() + kAside) == damaged);
      break;
    }
  }
}

// ---- in the cycle ----

class Taken : public ServiceTest {
 protected:
  // A poll whose decision wait, should a sale start that must not, ends within two minutes.
  void pollAgain() {
    endAfterMs = clock.monotonicMs() + 120000;
    poll();
    endAfterMs = -1;
  }
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const auto& r : mock.recorded()) {
      if (r.method != "POST") continue;
      const auto body = cloudmock::Json::parse(r.body);
      const std::string ep = r.path.substr(r.path.rfind('/') + 1);
      out.push_back(body.contains("status") ? ep + ":" + body["status"].dump() : ep);
    }
    return out;
  }
  // The cloud offers a request of this id again, open.
  void offerAgain(int id, const std::vector<std::pair<std::string, std::string>>& payments) {
    addRequest(id, payments);
  }
  bool loggedResend(int id, int status) const {
    const std::pair<std::string, std::string> row{
        "Requisicao ja realizada",
        "Id " + std::to_string(id) + " reenviado Sts " + std::to_string(status)};
    for (const auto& l : log()) {
      if (l == row) return true;
    }
    return false;
  }
};

TEST_F(Taken, FailedReportsThenTheNextPollMakeOneSaleOnly) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.addFault({"http500", "status", 2});   // statuses 1 and 3
  mock.addFault({"http500", "retorno", 1});  // status 5
  endAfterMs = clock.monotonicMs() + 1;      // the program ends in the decision wait
  poll();
  ASSERT_TRUE(svc->endRequested);
  EXPECT_EQ(cloudStatus(id), 1);  // still open in the cloud
  const std::string texts = mock.bodies("retorno").at(0);

  endAfterMs = -1;
  createService();  // started again: the open request comes first
  pollAgain();
  ASSERT_EQ(mock.bodies("retorno").size(), 2u);
  EXPECT_EQ(mock.bodies("retorno")[1], texts);  // the same report
  EXPECT_EQ(cloudStatus(id), 5);
  // No second sale, and the one cut in its decision wait waits for the cloud's decision.
  std::vector<std::string> ops = managerOps();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CRT"), 1);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CNF") + std::count(ops.begin(), ops.end(), "NCN"),
            0);
  mock.setDecision(id, 6);
  createService();
  pollAgain();
  ops = managerOps();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CRT"), 1);
  EXPECT_EQ(ops.back(), "NCN");
  EXPECT_EQ(cloudStatus(id), 8);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Taken, ARequestOfferedAgainAfterItsSaleGetsItsLastReportAgain) {
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::pair<std::string, std::string>> payments;
    int decision;
    std::vector<std::string> first;  // reports of the first cycle
    int resent;                      // status sent again when offered again
  } cases[] = {
      {"finished",
       "",
       {{"CRT", "25,90"}},
       7,
       {"status:1", "status:3", "retorno:5", "verifica", "status:8"},
       8},
      {"declined after an approval",
       "CRT approve\nCRT decline msg=\"Saldo insuficiente\"",
       {{"CRT", "10,00"}, {"CRT", "5,00"}},
       0,
       {"status:1", "status:3", "retorno:4"},
       4},
  };
  int id = 57;
  for (const Case& c : cases) {
    startManager(c.script);
    start();
    mock.reset();
    addRequest(id, c.payments);
    if (c.decision != 0) mock.setDecision(id, c.decision);
    poll();
    EXPECT_EQ(reports(), c.first) << c.name;
    const size_t transactions = journal().transactions.size();
    const std::vector<std::string> bodies = mock.bodies("retorno");

    mock.reset();  // the cloud lost the outcome and offers the request again
    offerAgain(id, c.payments);
    svc->tblList.clear();
    pollAgain();
    EXPECT_TRUE(loggedResend(id, c.resent)) << c.name;
    EXPECT_EQ(reports(), (std::vector<std::string>{(c.resent == 4 ? "retorno:" : "status:") +
                                                   std::to_string(c.resent)}))
        << c.name;
    if (c.resent == 4) {
      EXPECT_EQ(mock.bodies("retorno"), (std::vector<std::string>{bodies.back()})) << c.name;
    }
    EXPECT_EQ(journal().transactions.size(), transactions) << c.name;  // no new sale
    for (const auto& t : journal().transactions)
      EXPECT_NE(t.state(), State::Pending) << c.name << " " << t.nsu;
    EXPECT_TRUE(errors.empty()) << c.name;
    ++id;
  }
}

TEST_F(Taken, NotCarriedOutBeforeAnyApprovalIsTakenAgain) {
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::pair<std::string, std::string>> payments;
  } cases[] = {
      {"declined", "CRT decline", {{"CRT", "25,90"}}},
      {"first of two declined", "CRT decline", {{"CRT", "10,00"}, {"CRT", "5,00"}}},
  };
  int id = 57;
  for (const Case& c : cases) {
    startManager(c.script);
    start();
    mock.reset();
    addRequest(id, c.payments);
    // No report reaches the cloud: the request stays open there.
    mock.addFault({"http500", "status", 2});
    mock.addFault({"http500", "retorno", 1});
    const size_t before = journal().transactions.size();
    poll();
    EXPECT_EQ(cloudStatus(id), 1) << c.name;
    poll();  // the report that did not arrive goes first
    EXPECT_EQ(cloudStatus(id), 4) << c.name;
    EXPECT_EQ(journal().transactions.size(), before) << c.name;
    // The cloud offers it again: a new sale, approved this time.
    mock.reset();
    addRequest(id, c.payments);
    mock.setDecision(id, 7);
    poll();
    EXPECT_EQ(cloudStatus(id), 8) << c.name;
    EXPECT_FALSE(loggedResend(id, 4)) << c.name;
    const auto transactions = journal().transactions;
    ASSERT_EQ(transactions.size(), before + c.payments.size()) << c.name;
    for (size_t i = before; i < transactions.size(); ++i)
      EXPECT_EQ(transactions[i].state(), State::Confirmed) << c.name;
    ++id;
  }
}

TEST_F(Taken, ASaleCutAtTheManagerIsNeverStartedAgain) {
  startManager();
  start();
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  mock.addFault({"http500", "status", -1});  // no status report arrives
  // The engine cannot keep the manager's answer: an error after the request went.
  fs::create_directories(drive("Client/BKPINTPOS/INTPOS.001/x"));
  poll();
  ASSERT_EQ(errors.size(), 1u);
  fs::remove_all(drive("Client/BKPINTPOS/INTPOS.001"));
  EXPECT_EQ(cloudStatus(id), 1);
  mock.clearFaults();
  svc->Habilita_inicial();
  pollAgain();
  // The cloud never heard of an approval: the answer the manager gave is undone and the
  // cloud told the sale was not carried out.
  EXPECT_EQ(cloudStatus(id), 4);
  const std::vector<std::string> ops = managerOps();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "CRT"), 1);
  EXPECT_EQ(ops.back(), "NCN");
}

TEST_F(Taken, ARecordThatCannotBeReadStopsTheSaleWithAnError) {
  startManager();
  start();
  fs::create_directories(exeDir() + TakenRequests::kArquivo + "/x");
  const int64_t id = addRequest(57, {{"CRT", "25,90"}});
  poll();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find(TakenRequests::kArquivo), std::string::npos) << errors[0];
  EXPECT_EQ(cloudStatus(id), 1);
  EXPECT_TRUE(managerOps().empty());
  EXPECT_TRUE(fs::is_directory(exeDir() + TakenRequests::kArquivo + "/x"));
}

TEST_F(Taken, ADamagedRecordStopsNoSaleAndAnIntactIdIsNotSoldAgain) {
  struct Case {
    const char* name;
    std::function<std::string(const std::string& intact)> damage;
    bool intactKept;
  } cases[] = {
      {"cut last line", [](const std::string& s) { return s.substr(0, s.size() - 3); }, true},
      {"garbage", [](const std::string& s) { return s + "\xff\xfe\x01garbage\n\x02"; }, true},
      {"empty", [](const std::string&) { return std::string(); }, false},
      {"very large", [](const std::string& s) { return s + std::string(10u << 20, '\xa5') + "\n"; },
       true},
  };
  int id = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string record = exeDir() + TakenRequests::kArquivo;
    for (const auto& f : fs::directory_iterator(exeDir()))
      if (f.path().filename().string().rfind(TakenRequests::kArquivo, 0) == 0) fs::remove(f.path());
    {
      TakenRequests r(record);
      r.record({57, 8, true, {}, 1057, {"100001"}, true});
      r.record({58, 3, false, {}, 1058, {}});  // the last line: a cut takes it
    }
    const std::string damaged = c.damage(read(record));
    write(record, damaged);
    startManager();
    start();
    mock.reset();
    const auto sales = [this] {
      const std::vector<std::string> ops = managerOps();
      return std::count(ops.begin(), ops.end(), "CRT");
    };
    const auto before = sales();
    if (c.intactKept) {
      addRequest(57, {{"CRT", "25,90"}});  // offered again
      pollAgain();
      EXPECT_TRUE(loggedResend(57, 8));
      EXPECT_EQ(sales(), before);
    }
    const int64_t next = addRequest(id, {{"CRT", "25,90"}});
    mock.setDecision(next, 7);
    pollAgain();
    EXPECT_EQ(cloudStatus(next), 8);
    EXPECT_EQ(sales(), before + 1);
    EXPECT_TRUE(errors.empty()) << errors.front();
    if (!damaged.empty()) {
      bool keptAside = false;
      for (const auto& f : fs::directory_iterator(exeDir())) {
        if (f.path().filename().string().rfind(TakenRequests::kArquivo + ".danificado-"s, 0) == 0)
          keptAside = read(f.path().string()) == damaged;
      }
      EXPECT_TRUE(keptAside);
    }
    ++id;
  }
}

}  // namespace
