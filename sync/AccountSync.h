// The sync of one account of a feed service with its model and library:
// the pending queue pushed, then the server's folders, subscriptions and
// articles pulled, and everything the server said applied to the model in
// one change (CFeedsManager::ApplyAccountState), which the library and the
// panes follow as they follow any other. No Qt.
//
// Only one process pushes an account's queue at a time: a sync first takes
// the account's lease in the library (CSyncModule::TakeLease) and gives it
// back with the batch that writes its outcome; a sync that finds it held ends at once, with a
// message saying so. The requests and the parsing of the answers run on
// the download pool's threads (CGReaderClient); the owner's thread only
// takes the snapshot at the start and applies the outcome at the end,
// through the executor given, so it never waits for the server.
//
// Who wins (sync/Reconcile.h): the entries the server acknowledged leave
// the queue in the batch that applies the sync; for an article with no
// pending change the server's flags win; an article marked here while the
// sync ran keeps its flags, and its mark goes out with the next sync.
// Articles the server no longer lists are deleted unless starred; their
// keys stay in their feeds' histories, so they are not fetched again. A
// subscription the server no longer lists goes, unless it still holds
// starred articles; a folder goes once it is empty and no longer listed.
//
// In an account, an article's key is its item id and a subscription is
// known by its feed's address.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Executor.h"
#include "sync/GReaderClient.h"
#include "sync/SyncModule.h"

namespace qb {

class CFeedsManager;
class CLibrary;

struct AccountSyncResult {
  // The first failure, with the server's reason; the steps before it count
  // (the marks it acknowledged are done).
  GReaderError error;
  bool pulled = false;  // the server's state was applied
  size_t pushed = 0;    // queue entries the server acknowledged
  size_t added = 0;     // articles fetched and added
  size_t changed = 0;   // stored articles whose flags the server changed
  size_t removed = 0;   // articles deleted as the server no longer lists them
  uint64_t requests = 0;
};

// "Syncing alice@rss.example.org: 1,200 of 5,000 articles", for the
// status line.
std::u16string SyncProgressText(const std::u16string& account, size_t done, size_t total);
// The message of a sync refused because another process syncs the account,
// or the library was being written and the lease could not wait for it: no
// fault of the account's.
inline constexpr char16_t kSyncLeaseHeld[] =
    u"Another Quillbend is syncing this account, or its library is busy; try again shortly.";

class CAccountSync {
 public:
  // The lease a sync takes lasts this long unless given back first.
  static constexpr int64_t kLeaseSeconds = 600;

  // Everything given must outlive the object; `owner` runs on the thread
  // of the model.
  CAccountSync(CFeedsManager& model, CLibrary& library, CSyncModule& module, IExecutor& owner);
  // Drops the outcome of a sync still running (REQUIRES: the client of
  // that sync is cancelled or gone first).
  ~CAccountSync();
  CAccountSync(const CAccountSync&) = delete;
  CAccountSync& operator=(const CAccountSync&) = delete;

  using Progress = std::function<void(size_t fetched, size_t toFetch)>;
  using Done = std::function<void(AccountSyncResult)>;
  // Syncs the account with `client` (signed in as the account's user).
  // `progress` and `done` run on the owner's thread; `done` exactly once,
  // after the outcome was applied to the model (the library writes it
  // with its next flush). REQUIRES: the owner's thread; no other sync of
  // this object is running.
  void Start(ObjectId account, CGReaderClient& client, Progress progress, Done done);
  bool Running() const { return m_running; }

 private:
  struct Run;
  void Apply(const std::shared_ptr<Run>& run, GReaderSyncOutcome outcome);
  void ApplyPulled(Run& run, GReaderSyncOutcome& outcome, AccountSyncResult& result);

  CFeedsManager& m_model;
  CLibrary& m_library;
  CSyncModule& m_module;
  bool m_running = false;
  CExecutorScope m_owner;  // last: its tasks use everything above
};

}  // namespace qb
