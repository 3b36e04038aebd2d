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

// The record file cannot be read or does not hold what this program writes.
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
    // 4 not carried out, 5 approved and waiting for the decision, 8 finished.
    int status = 0;
    // Some payment of the sale was approved (or may have been): it may have moved money.
    bool approved = false;
    // The TEF texts of the status 4 or 5 report as the cycle held them, before cleaning.
    std::array<std::string, 3> texts{};
    // What ties the entry to a sale the engine's backup folder may still hold: the
    // request's number, sent as the sale's coupon, and the NSUs of the sale's approved
    // payments (at most kMaxNsus). Entries of a first-format file have 0 and none.
    int64_t numero = 0;
    std::vector<std::string> nsus{};
  };

  explicit TakenRequests(std::string path, size_t maxIds = kMaxIds);

  const std::string& path() const { return path_; }

  // Rows for the event log.
  std::function<void(const std::string& operacao, const std::string& mensagem)> onLog;

  // The entry of an id, if recorded. Reads the file at first use; throws
  // TakenRequestsError for a file that cannot be read or parsed (it is left as it is).
  std::optional<Entry> find(int64_t id);

  // The entries whose sale may not be finished (status 3 or 5), oldest first. Reads as
  // find does.
  std::vector<Entry> open();

  // Records an entry as the most recent, replacing the id's earlier one, and writes the
  // whole record atomically and flushed before returning (throws plat::FileError, or
  // TakenRequestsError for more than kMaxNsus NSUs).
  void record(Entry entry);

  // A request may be taken to a sale again only when its sale ended "not carried out"
  // before any payment was approved.
  static bool mayTakeAgain(const Entry& e) { return e.status == 4 && !e.approved; }

 private:
  void load();
  void write(const std::vector<Entry>& entries) const;

  std::string path_;
  size_t maxIds_;
  bool loaded_ = false;
  std::vector<Entry> entries_;  // oldest first
};

}  // namespace tefsync
