#include "app/AccountService.h"

#include <chrono>

#include "base/Text.h"
#include "model/FeedsManager.h"
#include "sync/Accounts.h"

namespace qb {

CAccountService::CAccountService(IDownloader& downloader, IExecutor& executor, CLibraryDataIo& store,
                                 ISecretStore& secrets)
    : m_downloader(downloader),
      m_executor(executor),
      m_store(store),
      m_secrets(secrets),
      m_now([] {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
      }),
      m_tasks(executor) {}

CAccountService::~CAccountService() {
  // No client's answer may come after this; the syncs' posted tasks are
  // dropped with the scope.
  if (m_signIn) m_signIn->Cancel();
  if (m_passwordCheck) m_passwordCheck->Cancel();
  for (auto& [id, run] : m_running) {
    if (run.client) run.client->Cancel();
  }
}

void CAccountService::AddAccount(CFeedsManager& model, GReaderServerKind kind, const QString& address,
                                 const QString& user, const QString& password, Done done) {
  const GReaderBase base = GReaderApiBase(kind, address.trimmed().toStdString());
  if (!base.problem.empty()) return done(false, QString::fromStdU16String(base.problem));
  if (!Available()) return done(false, QStringLiteral("The library cannot be written, so no account can be added."));
  if (m_signIn) m_signIn->Cancel();
  GReaderAccount account{kind, base.url, user.trimmed().toStdString()};
  const std::string secret = password.toStdString();
  m_signIn = std::make_unique<CGReaderClient>(m_downloader, account, secret);
  CGReaderClient* client = m_signIn.get();
  client->SignIn([this, client, &model, account, secret, done](GReaderReply<std::u16string> reply) {
    m_tasks.Post([this, client, &model, account, secret, done, reply] {
      if (m_signIn.get() != client) return;  // replaced
      std::unique_ptr<CGReaderClient> signedIn = std::move(m_signIn);
      if (!reply.error.ok()) return done(false, QString::fromStdU16String(reply.error.message));
      CSyncModule* module = m_store.Accounts();
      if (module == nullptr) return done(false, QStringLiteral("The library was closed."));
      std::u16string error;
      const ObjectId id =
          qb::AddAccount(model, *module, m_secrets, {0, {}, account.kind, account.apiBase, account.user}, secret, &error);
      if (id == 0) return done(false, QString::fromStdU16String(error));
      const std::u16string shown = reply.value.empty() ? Utf8ToUtf16(account.user) : reply.value;
      done(true, QStringLiteral("Signed in as ") + QString::fromStdU16String(shown));
      Running& run = m_running[id];
      run.client = std::move(signedIn);
      Sync(model, id);
    });
  });
}

void CAccountService::CancelSignIn() {
  if (!m_signIn) return;
  m_signIn->Cancel();
  m_signIn.reset();
}

CGReaderClient* CAccountService::ClientFor(ObjectId account) {
  const auto known = m_running.find(account);
  if (known != m_running.end() && known->second.client) return known->second.client.get();
  if (m_store.Accounts() == nullptr || m_store.Accounts()->Account(account) == nullptr) return nullptr;
  // The desktop's store answers through the event loop, where anything may
  // happen meanwhile (even the account's removal): everything is looked up
  // again after.
  const std::optional<std::string> password = m_secrets.Read(AccountSecretKey(account));
  const SyncAccountSettings* settings = Settings(account);
  if (settings == nullptr) return nullptr;
  Running& run = m_running[account];
  if (run.client) return run.client.get();
  if (!password) {
    const std::u16string why = u"No password is kept for it; give it in the account's properties.";
    Status(settings->name + u": " + why);
    m_problems[account] = why;
    if (m_synced) m_synced(account);
    if (m_askPassword && m_askedPassword.insert(account).second) {
      m_tasks.Post([this, account] {
        if (m_askPassword) m_askPassword(account);
      });
    }
    return nullptr;
  }
  run.client = std::make_unique<CGReaderClient>(
      m_downloader, GReaderAccount{settings->kind, settings->apiBase, settings->user}, *password);
  return run.client.get();
}

void CAccountService::Sync(CFeedsManager& model, ObjectId account) {
  if (Syncing(account)) return;
  CGReaderClient* client = ClientFor(account);
  CSyncModule* module = m_store.Accounts();
  if (client == nullptr || module == nullptr || m_store.Library() == nullptr) return;
  const SyncAccountSettings* settings = module->Account(account);
  if (settings == nullptr || Syncing(account)) return;
  Running& run = m_running[account];
  run.sync = std::make_unique<CAccountSync>(model, *m_store.Library(), *module, m_executor);
  m_started[account] = m_now();
  const std::u16string name = settings->name;
  Status(u"Syncing " + name + u"\u2026");
  run.sync->Start(
      account, *run.client,
      [this, name](size_t fetched, size_t total) { Status(SyncProgressText(name, fetched, total)); },
      [this, &model, name, account](AccountSyncResult r) {
        if (!r.error.ok()) {
          Status(name + u": " + r.error.message);
          // Another process syncing it is no fault of the account's.
          if (r.error.message != kSyncLeaseHeld) m_problems[account] = r.error.message;
        } else {
          Status(u"Synced " + name + u": " + Utf8ToUtf16(std::to_string(r.added)) + u" new articles");
          m_problems.erase(account);
        }
        m_store.FlushSoon();
        if (m_synced) m_synced(account);
        if (m_syncAgain.erase(account) != 0) {
          m_tasks.Post([this, &model, account] { Sync(model, account); });
        }
      });
}

void CAccountService::Edit(CFeedsManager& model, ObjectId node, EditDone done,
                           const std::function<void(CAccountEdits&, CGReaderClient&, EditDone)>& start) {
  const ObjectId account = model.AccountOf(node);
  if (account == 0 || Settings(account) == nullptr) {
    return done({{GReaderStatus::kLocal, 0, u"The account is gone."}, 0});
  }
  CGReaderClient* client = ClientFor(account);
  // Looked up again: the secret store may have turned the event loop.
  if (client == nullptr || model.AccountOf(node) != account) {
    return done({{GReaderStatus::kLocal, 0, client == nullptr ? Problem(account) : u"The account is gone."}, 0});
  }
  if (!m_edits) m_edits = std::make_unique<CAccountEdits>(model, m_executor);
  start(*m_edits, *client, std::move(done));
}

void CAccountService::Subscribe(CFeedsManager& model, ObjectId into, const std::u16string& url, EditDone done) {
  const ObjectId account = model.AccountOf(into);
  Edit(model, into, [this, &model, account, done](AccountEditResult r) {
    if (r.error.ok()) {
      // Its articles come with a sync, after the one running if need be.
      if (Syncing(account)) {
        m_syncAgain.insert(account);
      } else {
        Sync(model, account);
      }
    }
    done(std::move(r));
  }, [into, url](CAccountEdits& edits, CGReaderClient& client, EditDone then) {
    edits.Subscribe(client, into, url, std::move(then));
  });
}

void CAccountService::Unsubscribe(CFeedsManager& model, ObjectId source, EditDone done) {
  Edit(model, source, std::move(done), [source](CAccountEdits& edits, CGReaderClient& client, EditDone then) {
    edits.Unsubscribe(client, source, std::move(then));
  });
}

void CAccountService::Rename(CFeedsManager& model, ObjectId node, const std::u16string& name, EditDone done) {
  Edit(model, node, std::move(done), [node, name](CAccountEdits& edits, CGReaderClient& client, EditDone then) {
    edits.Rename(client, node, name, std::move(then));
  });
}

void CAccountService::Move(CFeedsManager& model, ObjectId source, ObjectId target, EditDone done) {
  Edit(model, source, std::move(done), [source, target](CAccountEdits& edits, CGReaderClient& client, EditDone then) {
    edits.Move(client, source, target, std::move(then));
  });
}

bool CAccountService::Syncing(ObjectId account) const {
  const auto it = m_running.find(account);
  return it != m_running.end() && it->second.sync && it->second.sync->Running();
}

void CAccountService::SyncAll(CFeedsManager& model) {
  CSyncModule* module = m_store.Accounts();
  if (module == nullptr) return;
  IdList accounts;
  for (const auto& [id, settings] : module->Accounts()) {
    if (model.GetGroup(id) != nullptr) accounts.push_back(id);
  }
  for (ObjectId id : accounts) Sync(model, id);
}

void CAccountService::SyncDue(CFeedsManager& model) {
  CSyncModule* module = m_store.Accounts();
  if (module == nullptr) return;
  const int64_t now = m_now();
  IdList due;
  for (const auto& [id, settings] : module->Accounts()) {
    if (model.GetGroup(id) == nullptr) continue;
    const auto started = m_started.find(id);
    const int64_t minutes = settings.refreshMinutes > 0 ? settings.refreshMinutes : kDefaultAccountRefreshMinutes;
    if (started == m_started.end() || now - started->second >= minutes * 60) due.push_back(id);
  }
  for (ObjectId id : due) Sync(model, id);
}

std::u16string CAccountService::Problem(ObjectId account) const {
  const auto it = m_problems.find(account);
  return it == m_problems.end() ? std::u16string() : it->second;
}

const SyncAccountSettings* CAccountService::Settings(ObjectId account) {
  CSyncModule* module = m_store.Accounts();
  return module == nullptr ? nullptr : module->Account(account);
}

bool CAccountService::SetRefreshMinutes(ObjectId account, int32_t minutes) {
  CSyncModule* module = m_store.Accounts();
  const SyncAccountSettings* settings = module == nullptr ? nullptr : module->Account(account);
  if (settings == nullptr) return false;
  if (settings->refreshMinutes == minutes) return true;
  SyncAccountSettings changed = *settings;
  changed.refreshMinutes = minutes;
  module->PutAccount(std::move(changed));
  m_store.FlushSoon();
  return true;
}

void CAccountService::ChangePassword(ObjectId account, const QString& password, Done done) {
  const SyncAccountSettings* settings = Settings(account);
  if (settings == nullptr) return done(false, QStringLiteral("The account is gone."));
  if (const auto run = m_running.find(account); run != m_running.end() && run->second.sync &&
                                                 run->second.sync->Running()) {
    return done(false, QStringLiteral("The account is syncing; please try again when it is done."));
  }
  if (m_passwordCheck) m_passwordCheck->Cancel();
  const GReaderAccount who{settings->kind, settings->apiBase, settings->user};
  const std::string secret = password.toStdString();
  m_passwordCheck = std::make_unique<CGReaderClient>(m_downloader, who, secret);
  CGReaderClient* client = m_passwordCheck.get();
  client->SignIn([this, client, account, secret, done](GReaderReply<std::u16string> reply) {
    m_tasks.Post([this, client, account, secret, done, reply] {
      if (m_passwordCheck.get() != client) return;  // replaced or abandoned
      std::unique_ptr<CGReaderClient> signedIn = std::move(m_passwordCheck);
      if (!reply.error.ok()) return done(false, QString::fromStdU16String(reply.error.message));
      const QString syncing = QStringLiteral("The account is syncing; please try again when it is done.");
      if (Settings(account) == nullptr) return done(false, QStringLiteral("The account is gone."));
      if (Syncing(account)) return done(false, syncing);
      std::string why;
      if (!m_secrets.Write(AccountSecretKey(account), secret, &why)) {
        return done(false, QStringLiteral("The password could not be kept: %1.").arg(QString::fromStdString(why)));
      }
      // Looked up after the write, which may have turned the event loop.
      if (Settings(account) == nullptr) return done(false, QStringLiteral("The account is gone."));
      if (Syncing(account)) return done(false, syncing);
      Running& run = m_running[account];
      // The next sync signs in with the new password.
      run.sync.reset();
      run.client = std::move(signedIn);
      done(true, QStringLiteral("Signed in as ") + QString::fromStdU16String(reply.value.empty()
                                                                                ? Utf8ToUtf16(Settings(account)->user)
                                                                                : reply.value));
    });
  });
}

void CAccountService::CancelPasswordCheck() {
  if (!m_passwordCheck) return;
  m_passwordCheck->Cancel();
  m_passwordCheck.reset();
}

bool CAccountService::Remove(CFeedsManager& model, ObjectId account) {
  CSyncModule* module = m_store.Accounts();
  if (module == nullptr) return false;
  if (const auto run = m_running.find(account); run != m_running.end()) {
    // The client first: the sync's outcome must never come.
    if (run->second.client) run->second.client->Cancel();
    m_running.erase(run);
  }
  m_started.erase(account);
  m_syncAgain.erase(account);
  m_problems.erase(account);
  const bool removed = qb::RemoveAccount(model, *module, m_secrets, account);
  if (removed) m_store.FlushSoon();
  return removed;
}

}  // namespace qb
