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
    // What links the entry to a pending sale in the engine's backup folder: the request's
    // number, which the sale sent as its coupon (002-000), and the NSUs (012-000) of the
    // sale's approved payments, in payment order (empty before any approval).
    int64_t numero = 0;
    std::vector<std::string> nsus{};
    // The report of this status reached the cloud (an answer came back). Until then a
    // restart sends it again.
    bool entregue = false;
  };

  explicit TakenRequests(std::string path, size_t maxIds = kMaxIds);

  // Rows for the event log (Operacao, Mensagem): what a damaged record held and what was kept.
  std::function<void(const std::string& operacao, const std::string& mensagem)> onLog;

  const std::string& path() const { return path_; }

  // The entry of an id, if recorded. Reads the file at first use; throws
  // TakenRequestsError for a file that cannot be read (it is left as it is). A file that
  // reads but is damaged is repaired: see load().
  std::optional<Entry> find(int64_t id);
  // The entries whose request is not ended, oldest first: status 3, 5, 6 or 7, or a 4 or 8
  // whose report has not reached the cloud.
  std::vector<Entry> open();
  static bool isOpen(const Entry& e) {
    return e.status == 3 || e.status == 5 || e.status == 6 || e.status == 7 ||
           ((e.status == 4 || e.status == 8) && !e.entregue);
  }

  // Records an entry as the most recent, replacing the id's earlier one, and writes the
  // whole record atomically and flushed before returning (throws plat::FileError).
  void record(Entry entry);

  // A request may be taken to a sale again only when its sale ended "not carried out"
  // before any payment was approved.
  static bool mayTakeAgain(const Entry& e) { return e.status == 4 && !e.approved; }

 private:
  void load();

  std::string path_;
  size_t maxIds_;
  bool loaded_ = false;
  std::vector<Entry> entries_;  // oldest first
};

}  // namespace tefsync
