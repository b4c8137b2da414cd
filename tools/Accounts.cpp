#include "tools/Accounts.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "base/Executor.h"
#include "base/Text.h"
#include "net/Download.h"
#include "tools/UserData.h"

namespace qb::cli {

CAccountsSession::CAccountsSession(CliContext& ctx, const CFeedsManager& model) : m_ctx(ctx), m_module(model) {
  if (!ctx.session) return;
  ctx.session->library.AddModule(m_module);
  // No window waits on this thread: a sync waits for the window's writes.
  m_module.SetLeaseWait(LibraryOpenOptions{}.busyTimeoutMs);
  m_ok = m_module.Load(ctx.session->library);
  if (!m_ok) ctx.err << "quillbend-cli: the accounts could not be read from the library\n";
}

CAccountsSession::~CAccountsSession() {
  if (m_ctx.session) m_ctx.session->library.RemoveModule(m_module);
}

CLibrary& CAccountsSession::Library() { return m_ctx.session->library; }

ObjectId CAccountsSession::Find(const std::u16string& name) const {
  for (const auto& [id, settings] : m_module.Accounts()) {
    if (settings.name == name) return id;
  }
  return 0;
}

CFileSecretStore CliSecrets() { return CFileSecretStore(CFileSecretStore::DefaultFolder()); }

std::optional<std::string> ReadPassword(CliContext& ctx) {
  std::string line;
  if (ctx.in != nullptr) {
    if (!std::getline(*ctx.in, line)) return std::nullopt;
  } else if (::isatty(STDIN_FILENO)) {
    ctx.err << "Password: " << std::flush;
    termios before{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (terminal) {
      termios quiet = before;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    ctx.err << "\n";
    if (!read) return std::nullopt;
  } else if (!std::getline(std::cin, line)) {
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

AccountSyncResult SyncToEnd(CliContext& ctx, CFeedsManager& model, CAccountsSession& accounts, ObjectId account,
                            const std::string& password) {
  const SyncAccountSettings settings = *accounts.Module().Account(account);
  CTaskQueue owner;
  CDownloadPool pool;
  CGReaderClient client(pool, {settings.kind, settings.apiBase, settings.user}, password);
  std::optional<AccountSyncResult> result;
  {
    CAccountSync sync(model, accounts.Library(), accounts.Module(), owner);
    size_t shown = 0;
    sync.Start(
        account, client,
        [&](size_t fetched, size_t total) {
          if (total == 0 || fetched == shown) return;
          shown = fetched;
          ctx.err << TerminalText(SyncProgressText(settings.name, fetched, total)) << "\n";
        },
        [&](AccountSyncResult r) { result = std::move(r); });
    owner.RunUntil([&] { return result.has_value(); });
    client.Cancel();
  }
  return std::move(*result);
}

}  // namespace qb::cli
