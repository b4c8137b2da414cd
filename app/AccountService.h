// The window's accounts of feed services: File > "Add account..." signs in
// and adds one (sync/Accounts.h), and each account is synced through the
// program's one download pool (sync/AccountSync.h). The window never waits
// for the server: the answers are parsed on the pool's threads and applied
// from tasks on the window's executor, and the status line hears the
// progress ("Syncing alice@...: 1,200 of 5,000 articles").
//
// Threads: the window's. The downloader, the executor, the store and the
// secret store must outlive the service.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>

#include "app/LibraryDataIo.h"
#include "base/Executor.h"
#include "net/Download.h"
#include "sync/AccountEdits.h"
#include "sync/AccountSync.h"
#include "sync/SecretStore.h"

namespace qb {

class CFeedsManager;

class CAccountService {
 public:
  CAccountService(IDownloader& downloader, IExecutor& executor, CLibraryDataIo& store, ISecretStore& secrets);
  // Abandons the sign-in and the syncs still running.
  ~CAccountService();
  CAccountService(const CAccountService&) = delete;
  CAccountService& operator=(const CAccountService&) = delete;

  // Whether accounts can be added: the library is open for writing.
  bool Available() { return m_store.Accounts() != nullptr && m_store.Library() != nullptr; }

  // Checks the sign-in with the server and, when it is good, adds the
  // account to `model` and starts its first sync. `done` runs on the
  // window's thread with "Signed in as alice" or the reason nothing was
  // added (the server's, or the library's). A sign-in started while
  // another runs replaces it (the earlier one's `done` never runs).
  using Done = std::function<void(bool added, QString text)>;
  void AddAccount(CFeedsManager& model, GReaderServerKind kind, const QString& address, const QString& user,
                  const QString& password, Done done);
  // Abandons a sign-in still waiting for the server: nothing is added.
  void CancelSignIn();
  // Syncs the account unless it is syncing already.
  void Sync(CFeedsManager& model, ObjectId account);
  // Whether a sync of the account is running.
  bool Syncing(ObjectId account) const;
  // Every account ("Update all feeds", F5).
  void SyncAll(CFeedsManager& model);
  // The accounts whose refresh interval has passed since their last sync
  // started in this run; at start, that is every account.
  void SyncDue(CFeedsManager& model);

  // The user's edits of an account's structure (sync/AccountEdits.h), sent
  // to its server at once and shown once the server did them; `done` runs
  // with the outcome, the server's reason when it was refused, unless the
  // account is removed first. A new subscription syncs the account, which
  // brings its articles.
  using EditDone = std::function<void(AccountEditResult)>;
  void Subscribe(CFeedsManager& model, ObjectId into, const std::u16string& url, EditDone done);
  void Unsubscribe(CFeedsManager& model, ObjectId source, EditDone done);
  void Rename(CFeedsManager& model, ObjectId node, const std::u16string& name, EditDone done);
  void Move(CFeedsManager& model, ObjectId source, ObjectId target, EditDone done);

  // Why the account's last sync failed, for its warning mark; empty when
  // it went well or has not ended yet in this run.
  std::u16string Problem(ObjectId account) const;
  // The account's settings; null for no account.
  const SyncAccountSettings* Settings(ObjectId account);
  // The refresh interval in minutes (0: the program's), kept with the
  // library's next batch. False for no account.
  bool SetRefreshMinutes(ObjectId account, int32_t minutes);
  // Signs in with `password` and, when the server takes it, keeps it and
  // syncs with it from then on; `done` as for AddAccount. The password
  // kept before stays when the sign-in fails.
  void ChangePassword(ObjectId account, const QString& password, Done done);
  // Abandons that sign-in: the password stays as it was.
  void CancelPasswordCheck();
  // The account's copy here and its password go (sync/Accounts.h); a sync
  // running is abandoned. False for no account.
  bool Remove(CFeedsManager& model, ObjectId account);

  // Told each progress and outcome text, for the status line.
  void SetStatusListener(std::function<void(const std::u16string&)> listener) { m_status = std::move(listener); }
  // Told the account whose sync ended, whose warning mark may differ.
  void SetSyncedListener(std::function<void(ObjectId)> listener) { m_synced = std::move(listener); }
  // Asked, once a run, for the password of an account that has none kept
  // (the user chose to give it at each start), from a task of its own.
  void SetPasswordAsker(std::function<void(ObjectId)> asker) { m_askPassword = std::move(asker); }
  // The clock of the refresh intervals, in seconds (tests).
  void SetClock(std::function<int64_t()> now) { m_now = std::move(now); }

 private:
  struct Running {
    std::unique_ptr<CGReaderClient> client;
    std::unique_ptr<CAccountSync> sync;
  };
  // The account's client, made with its kept password when there is none
  // yet; null, with the account's problem noted, when no password is kept.
  // The secret store may turn the event loop, so the caller looks up
  // everything again after.
  CGReaderClient* ClientFor(ObjectId account);
  // Runs `start` with the account's client and edits, or ends `done` with
  // the reason there is none.
  void Edit(CFeedsManager& model, ObjectId node, EditDone done,
            const std::function<void(CAccountEdits&, CGReaderClient&, EditDone)>& start);
  void Status(const std::u16string& text) {
    if (m_status) m_status(text);
  }

  IDownloader& m_downloader;
  IExecutor& m_executor;
  CLibraryDataIo& m_store;
  ISecretStore& m_secrets;
  std::function<void(const std::u16string&)> m_status;
  std::function<void(ObjectId)> m_synced;
  std::function<void(ObjectId)> m_askPassword;
  std::set<ObjectId> m_askedPassword;
  std::function<int64_t()> m_now;
  // When each account's last sync started in this run.
  std::map<ObjectId, int64_t> m_started;
  std::map<ObjectId, std::u16string> m_problems;
  std::unique_ptr<CGReaderClient> m_passwordCheck;
  std::unique_ptr<CGReaderClient> m_signIn;
  std::map<ObjectId, Running> m_running;
  // Accounts to sync again when their sync ends (a subscription added
  // while it ran).
  std::set<ObjectId> m_syncAgain;
  std::unique_ptr<CAccountEdits> m_edits;
  CExecutorScope m_tasks;  // last: its tasks use everything above
};

}  // namespace qb
