// The record of the payment requests this computer has taken to a sale, kept on disk beside
// the settings file. It is the idempotency key of a sale: a request whose status reports
// failed stays open in the cloud, and a cloud may offer a finished request again; either
// way the same id must not become a second card sale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tefsync {

// The record file cannot be read, or cannot be written.
class TakenRequestsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TakenRequests {
 public:
  static constexpr const char* kArquivo = "requisicoesTEF.txt";
  // Ids kept, the most recent ones: far more than a shop's requests of a few days.
  static constexpr size_t kMaxIds = 5000;
  // A sale has one to three payments.
  static constexpr size_t kMaxNsus = 3;

  struct Entry {
    int64_t id = 0;
    // The last status this computer reached for the id: 3 the sale went to the manager,
    // 4 not carried out, 5 approved and waiting for the decision, 6 or 7 the cloud's
    // decision taken and being applied, 8 finished.
    int status = 0;
    // Some payment of the sale was approved (or may have been): it may have moved money.
    bool approved = false;
    // The TEF texts of the status 4 or 5 report as the cycle held them, before cleaning.
    std::array<std::string, 3> texts{};
    // What ties the entry to a sale the engine's backup folder may still hold: the
    // request's number, sent as the sale's coupon (002-000), and the NSUs (012-000) of the
    // sale's approved payments (at most kMaxNsus). Entries of a first-format file have 0 and
    // none.
    int64_t numero = 0;
    std::vector<std::string> nsus{};
    // The report of this status reached the cloud (an answer came back). Until then a
    // restart sends it again.
    bool entregue = false;
  };

  explicit TakenRequests(std::string path, size_t maxIds = kMaxIds);

  const std::string& path() const { return path_; }

  // Rows for the event log: what a damaged or empty file held and what became of it.
  std::function<void(const std::string& operacao, const std::string& mensagem)> onLog;

  // The entry of an id, if recorded. Reads the file at first use. A file that reads but
  // is damaged is mended: a copy of it is kept beside it under a dated name, the whole
  // lines are kept and written as a fresh record, and onLog names what was lost. Throws
  // TakenRequestsError only for a file that cannot be read (it is left as it is, and the
  // next call reads it again).
  std::optional<Entry> find(int64_t id);
  // The entries whose request is not ended, oldest first: status 3, 5, 6 or 7, or a 4 or 8
  // whose report has not reached the cloud. Reads as find does.
  std::vector<Entry> open();
  static bool isOpen(const Entry& e) {
    return e.status == 3 || e.status == 5 || e.status == 6 || e.status == 7 ||
           ((e.status == 4 || e.status == 8) && !e.entregue);
  }

  // Records an entry as the most recent, replacing the id's earlier one, and writes the
  // whole record atomically and flushed before returning. Throws TakenRequestsError or
  // plat::FileError, naming the file and the reason, when it cannot be written (a read-only
  // file or folder, a damaged file that could not be kept aside); the entries are then as
  // they were.
  void record(Entry entry);

  // A request may be taken to a sale again only when its sale ended "not carried out"
  // before any payment was approved.
  static bool mayTakeAgain(const Entry& e) { return e.status == 4 && !e.approved; }

 private:
  void load();
  // Keeps a damaged file's bytes aside and writes the entries kept from it as a fresh record.
  void mend(const std::string& bytes, const std::vector<std::string>& found,
            std::vector<Entry>& kept, const std::vector<int64_t>& lost);
  void write(const std::vector<Entry>& entries) const;
  void log(const std::string& mensagem) const;

  std::string path_;
  size_t maxIds_;
  bool loaded_ = false;
  // Why a damaged file still lies under the record's name with no copy of it aside
  // (empty when none does): it must not be written over.
  std::string damagedInPlace_;
  std::vector<Entry> entries_;  // oldest first
};

}  // namespace tefsync
