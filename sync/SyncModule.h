// The accounts of feed services as a module of the library
// (library/LibraryModule.h), named "sync". An account is a group of the
// model marked as one (GroupFields::m_account); this module keeps what the
// model does not:
//
//   sync_accounts(account, name, kind, api_base, user, refresh_minutes)
//       its settings, never
//       the password (sync/SecretStore.h keeps that), a row per account
//       group, going with it;
//   sync_items(article, account, item_id)  the server's id of each of the
//       account's articles (normalised, sync/GReaderProtocol.h), going with
//       the article;
//   sync_pending(seq, account, item_id, flag, value)  the pending queue: a
//       read or starred change made here that the server has not
//       acknowledged yet, written in the transaction of the flag itself,
//       so that a crash loses neither or both; keyed by the item id, so
//       that a mark on an article deleted afterwards still goes out;
//   sync_deleted(account, item_id)  the items the user deleted here, so
//       that no later sync fetches them again (a feed's history, which
//       keeps the keys of deleted articles of local feeds, lets its oldest
//       keys go, and an account's feeds are as long as the server keeps
//       them);
//   sync_lease(account, holder, expires)  the one process that pushes the
//       account's queue now (TakeLease); an account's first sync may start
//       before its row is written, so the lease names the account without
//       a foreign key, and a lease left by a removed account runs out.
//
// The queue on the disk is the truth every process shares: a sync pushes
// what ReadQueue gives (the entries written, each with the number the
// library gave it, which grows with every entry), and the entries the
// server acknowledged leave it with the batch that applies the sync
// (Acknowledge). Marks made here and not yet written are newer than
// anything a sync read, and go out with the next one.
//
// Threads: the owner's thread of the library's link, but for the work.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "library/LibraryModule.h"
#include "sync/GReaderProtocol.h"
#include "sync/Reconcile.h"

namespace qb {

class CFeedsManager;

struct SyncAccountSettings {
  ObjectId account = 0;    // its group
  std::u16string name;     // "alice@rss.example.org", as the tree shows it
  GReaderServerKind kind = GReaderServerKind::kOther;
  std::string apiBase;     // GReaderApiBase's url
  std::string user;
  // How often the window syncs it, in minutes; 0 for the program's
  // interval (kDefaultAccountRefreshMinutes).
  int32_t refreshMinutes = 0;
  bool operator==(const SyncAccountSettings&) const = default;
};

// How often an account syncs when it names no interval of its own: as
// often as a new feed is fetched.
inline constexpr int32_t kDefaultAccountRefreshMinutes = 15;

// The kinds as the command line and the library name them: "freshrss",
// "miniflux", "theoldreader", "bazqux", "greader" (the API's own base).
std::string_view AccountKindName(GReaderServerKind kind);
std::optional<GReaderServerKind> AccountKindFromName(std::string_view name);

// TakeLease's error when another connection held the library's write lock
// for longer than the lease waits: nothing is wrong, a sync can be tried
// again shortly.
inline constexpr char kLibraryBusy[] = "the library is busy";

class CSyncModule final : public ILibraryModule {
 public:
  // The model whose flags the queue follows; it must outlive the module.
  explicit CSyncModule(const CFeedsManager& model) : m_model(model) {}

  // How long TakeLease and ReleaseLease wait for another connection's
  // write lock: on the window's thread a moment (a flush of the writer
  // thread usually ends sooner), in a process without a window as long as
  // the library waits for any write.
  static constexpr int kWindowLeaseWaitMs = 250;
  void SetLeaseWait(int ms) { m_leaseWaitMs = ms; }

  std::string_view Name() const override { return "sync"; }
  int Version() const override { return 2; }
  void Migrate(CSqliteDb& db, int from) const override;

  // Reads the accounts and item ids stored, replacing what the module
  // knew (after the library's Load, once the module is added). False when
  // they could not be read.
  bool Load(CLibrary& library);

  // --- accounts.
  const std::map<ObjectId, SyncAccountSettings>& Accounts() const { return m_accounts; }
  const SyncAccountSettings* Account(ObjectId account) const;
  // Stored with the next batch, after the group's row.
  void PutAccount(SyncAccountSettings settings);

  // --- item ids.
  // Empty when the article is of no account.
  std::string ItemIdOf(ObjectId article) const;
  // The account's articles by item id.
  std::unordered_map<std::string, ObjectId> ArticlesOf(ObjectId account) const;
  // The items of the account the user deleted here.
  std::unordered_set<std::string> DeletedOf(ObjectId account) const;
  // The article (of the account's, made in this turn) is the item: stored
  // with the next batch, after the article's row.
  void SetItemId(ObjectId article, ObjectId account, std::string itemId);

  // --- the queue.
  // The account's entries as the library holds them, oldest first. False
  // when it could not be read.
  bool ReadQueue(CLibrary& library, ObjectId account, std::vector<PendingMark>& out);
  // Entries the server took: removed with the next batch.
  void Acknowledge(const std::vector<uint64_t>& seqs);
  // The item ids of the account's marks this process has not yet
  // written (a sync's snapshot cannot hold them: they are newer).
  std::unordered_set<std::string> UnwrittenItems(ObjectId account) const;
  // The item ids marked here since MarkCount() was `since`: a sync that
  // read the queue before leaves their flags alone.
  uint64_t MarkCount() const { return m_markCount; }
  std::unordered_set<std::string> MarkedSince(uint64_t since) const;

  // --- the lease. The account's queue is pushed by one process at a time:
  // TakeLease, in a write transaction of its own, takes the row when no one
  // holds it, its holder's time ran out (a process that died), or this
  // session holds it already, until `now` + `seconds`. False, with the
  // holder's expiry in `heldUntil`, when another session holds it; false
  // with `error` set when the library could not be written, to
  // kLibraryBusy when another connection kept it locked for longer than a
  // moment (the lease is taken on the owner's thread, which never waits
  // for a write of the writer thread or of another process).
  bool TakeLease(CLibrary& library, ObjectId account, int64_t now, int64_t seconds, int64_t* heldUntil = nullptr,
                 std::string* error = nullptr);
  // Gives the lease back now, waiting a moment at most; when the library is
  // busy, with the next batch instead.
  void ReleaseLease(CLibrary& library, ObjectId account);
  // Gives the lease back with the next batch, the one that writes what the
  // sync brought (the acknowledged entries leave the queue in it): no
  // other process can push them again in between.
  void ReleaseLeaseWithBatch(ObjectId account, int64_t holder);

  // Runs when an account is removed here (from the model's change, on this
  // thread): the owner lets its password go with it.
  void SetAccountRemovedHook(std::function<void(ObjectId account)> hook) { m_accountRemoved = std::move(hook); }

  // --- ILibraryModule.
  void ModelChanged(const CModelChange& change) override;
  bool HasWork() const override;
  Work TakeWork() override;
  void WorkDone(bool committed) override;
  size_t PendingCount() const override;
  void ChangedElsewhere(CLibrary& library, const IdList& ids, bool everything) override;

 private:
  struct Item {
    ObjectId account = 0;
    std::string id;
  };
  struct Mark {
    ObjectId account = 0;
    std::string id;
    MarkFlag flag = MarkFlag::kRead;
    bool value = false;
  };
  struct Changes {
    std::map<ObjectId, SyncAccountSettings> accounts;
    std::map<ObjectId, Item> items;
    std::vector<Mark> marks;
    std::vector<uint64_t> acknowledged;
    std::vector<std::pair<ObjectId, int64_t>> leases;  // to give back: account, holder
    std::vector<Item> deleted;
    bool empty() const {
      return accounts.empty() && items.empty() && marks.empty() && acknowledged.empty() && leases.empty() &&
             deleted.empty();
    }
  };

  const CFeedsManager& m_model;
  std::function<void(ObjectId)> m_accountRemoved;
  std::map<ObjectId, SyncAccountSettings> m_accounts;
  std::unordered_map<ObjectId, Item> m_items;
  std::unordered_map<ObjectId, std::unordered_set<std::string>> m_deleted;
  Changes m_pending;
  std::optional<Changes> m_inFlight;
  uint64_t m_markCount = 0;
  // The count at each article's latest mark here.
  std::unordered_map<std::string, uint64_t> m_lastMark;
  int m_leaseWaitMs = kWindowLeaseWaitMs;
};

}  // namespace qb
