#include "app/AccountService.h"

#include "base/Text.h"
#include "model/FeedsManager.h"
#include "sync/Accounts.h"

namespace qb {

CAccountService::CAccountService(IDownloader& downloader, IExecutor& executor, CLibraryDataIo& store,
                                 ISecretStore& secrets)
    : m_downloader(downloader), m_executor(executor), m_store(store), m_secrets(secrets), m_tasks(executor) {}

CAccountService::~CAccountService() {
  // No client's answer may come after this; the syncs' posted tasks are
  // dropped with the scope.
  if (m_signIn) m_signIn->Cancel();
  for (auto& [id, run] : m_running) run.client->Cancel();
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

void CAccountService::Sync(CFeedsManager& model, ObjectId account) {
  CSyncModule* module = m_store.Accounts();
  if (module == nullptr || m_store.Library() == nullptr) return;
  const SyncAccountSettings* settings = module->Account(account);
  if (settings == nullptr) return;
  Running& run = m_running[account];
  if (run.sync && run.sync->Running()) return;
  if (!run.client) {
    const std::optional<std::string> password = m_secrets.Read(AccountSecretKey(account));
    if (!password) {
      Status(settings->name + u": no password is kept for it; remove the account and add it again.");
      return;
    }
    run.client = std::make_unique<CGReaderClient>(
        m_downloader, GReaderAccount{settings->kind, settings->apiBase, settings->user}, *password);
  }
  run.sync = std::make_unique<CAccountSync>(model, *m_store.Library(), *module, m_executor);
  const std::u16string name = settings->name;
  Status(u"Syncing " + name + u"\u2026");
  run.sync->Start(
      account, *run.client,
      [this, name](size_t fetched, size_t total) { Status(SyncProgressText(name, fetched, total)); },
      [this, name](AccountSyncResult r) {
        if (!r.error.ok()) {
          Status(name + u": " + r.error.message);
        } else {
          Status(u"Synced " + name + u": " + Utf8ToUtf16(std::to_string(r.added)) + u" new articles");
        }
        m_store.FlushSoon();
      });
}

}  // namespace qb
