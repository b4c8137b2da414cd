// quillbend-cli account add KIND URL USER | list | remove NAME: the
// accounts of feed services in the user's library. The password comes from
// standard input and is checked with the server at once; it is kept in a
// file of the user's alone (tools/Accounts.h), never in the library.
#include <future>
#include <string>

#include "base/Text.h"
#include "net/Download.h"
#include "sync/Accounts.h"
#include "tools/Accounts.h"
#include "tools/UserData.h"

namespace qb::cli {
namespace {

constexpr char kUsage[] =
    "usage: quillbend-cli account add KIND URL USER | account list | account remove NAME\n"
    "  KIND: freshrss or miniflux (URL: the server's address), greader (URL: the API's base)\n";

bool RefuseDataFile(CliContext& ctx) {
  if (UsesLibrary(ctx)) return false;
  ctx.err << "quillbend-cli: accounts are kept in the library only; a data file has no place for them\n";
  return true;
}

int Add(CliContext& ctx) {
  if (ctx.args.size() != 4) {
    ctx.err << kUsage;
    return 2;
  }
  const std::optional<GReaderServerKind> kind = AccountKindFromName(ctx.args[1]);
  if (!kind || (*kind != GReaderServerKind::kFreshRss && *kind != GReaderServerKind::kMiniflux &&
                *kind != GReaderServerKind::kOther)) {
    ctx.err << "quillbend-cli: unknown kind of account '" << TerminalText(ctx.args[1])
            << "' (freshrss, miniflux or greader)\n";
    return 2;
  }
  const GReaderBase base = GReaderApiBase(*kind, ctx.args[2]);
  if (!base.problem.empty()) {
    ctx.err << "quillbend-cli: " << TerminalText(base.problem) << "\n";
    return 1;
  }
  const std::string& user = ctx.args[3];
  const std::u16string name = AccountName(user, base.url);
  const std::optional<std::string> password = ReadPassword(ctx);
  if (!password || password->empty()) {
    ctx.err << "quillbend-cli: no password was given on standard input\n";
    return 1;
  }

  CDownloadPool pool;
  CGReaderClient client(pool, {*kind, base.url, user}, *password);
  std::promise<GReaderReply<std::u16string>> signedIn;
  client.SignIn([&](GReaderReply<std::u16string> r) { signedIn.set_value(std::move(r)); });
  const GReaderReply<std::u16string> reply = signedIn.get_future().get();
  if (!reply.error.ok()) {
    ctx.err << TerminalText(reply.error.message) << "\n";
    return 1;
  }
  ctx.out << "Signed in as " << TerminalText(reply.value.empty() ? Utf8ToUtf16(user) : reply.value) << "\n";

  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  if (!LoadUserData(ctx, manager, path)) return 1;
  CAccountsSession accounts(ctx, manager);
  if (!accounts.ok()) return 1;
  CFileSecretStore secrets = CliSecrets();
  std::u16string error;
  const ObjectId id = AddAccount(manager, accounts.Module(), secrets, {0, {}, *kind, base.url, user}, *password, &error);
  if (id == 0) {
    ctx.err << "quillbend-cli: " << TerminalText(error) << "\n";
    return 1;
  }
  if (!SaveUserData(ctx, manager, path)) {
    secrets.Remove(AccountSecretKey(id));
    return 1;
  }
  ctx.out << "Added the account " << TerminalText(name) << "; quillbend-cli sync brings its feeds\n";
  return 0;
}

int List(CliContext& ctx) {
  if (ctx.args.size() != 1) {
    ctx.err << kUsage;
    return 2;
  }
  CFeedsManager manager;
  if (!ReadUserData(ctx, manager, UserDataPath(ctx))) return 1;
  CAccountsSession accounts(ctx, manager);
  if (!accounts.ok()) return 1;
  for (const auto& [id, s] : accounts.Module().Accounts()) {
    if (manager.GetGroup(id) == nullptr) continue;
    ctx.out << TerminalText(s.name) << ": " << AccountKindName(s.kind) << ", " << TerminalText(s.apiBase)
            << ", user " << TerminalText(s.user) << "\n";
  }
  return 0;
}

int Remove(CliContext& ctx) {
  if (ctx.args.size() != 2) {
    ctx.err << kUsage;
    return 2;
  }
  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  if (!LoadUserData(ctx, manager, path)) return 1;
  CAccountsSession accounts(ctx, manager);
  if (!accounts.ok()) return 1;
  const std::u16string name = Utf8ToUtf16(ctx.args[1]);
  const ObjectId id = accounts.Find(name);
  if (id == 0 || manager.GetGroup(id) == nullptr) {
    ctx.err << "quillbend-cli: there is no account " << TerminalText(name) << "\n";
    return 1;
  }
  CFileSecretStore secrets = CliSecrets();
  RemoveAccount(manager, accounts.Module(), secrets, id);
  if (!SaveUserData(ctx, manager, path)) return 1;
  ctx.out << "Removed " << TerminalText(name) << " from this computer; the account on the server is unchanged\n";
  return 0;
}

int RunAccount(CliContext& ctx) {
  if (ctx.args.empty()) {
    ctx.err << kUsage;
    return 2;
  }
  if (RefuseDataFile(ctx)) return 1;
  const std::string& what = ctx.args[0];
  if (what == "add") return Add(ctx);
  if (what == "list") return List(ctx);
  if (what == "remove") return Remove(ctx);
  ctx.err << kUsage;
  return 2;
}

QB_CLI_COMMAND({"account", "account add|list|remove    the accounts of feed services (see below)", RunAccount,
                "account add KIND URL USER reads the password from standard input and signs in at once;\n"
                "KIND is freshrss or miniflux with the server's address, or greader with the API's base.\n"
                "account remove NAME deletes the account's copy here, not the account on the server."});

int RunSync(CliContext& ctx) {
  if (ctx.args.size() > 1) {
    ctx.err << "usage: quillbend-cli sync [NAME]\n";
    return 2;
  }
  if (RefuseDataFile(ctx)) return 1;
  const std::string path = UserDataPath(ctx);
  CFeedsManager manager;
  if (!LoadUserData(ctx, manager, path)) return 1;
  CAccountsSession accounts(ctx, manager);
  if (!accounts.ok()) return 1;
  std::vector<ObjectId> which;
  if (ctx.args.empty()) {
    for (const auto& [id, s] : accounts.Module().Accounts()) {
      if (manager.GetGroup(id) != nullptr) which.push_back(id);
    }
  } else if (ObjectId id = accounts.Find(Utf8ToUtf16(ctx.args[0])); id != 0 && manager.GetGroup(id) != nullptr) {
    which.push_back(id);
  } else {
    ctx.err << "quillbend-cli: there is no account " << TerminalText(ctx.args[0]) << "\n";
    return 1;
  }
  int status = 0;
  for (ObjectId id : which) {
    const std::u16string name = accounts.Module().Account(id)->name;
    const std::optional<std::string> password = CliSecrets().Read(AccountSecretKey(id));
    if (!password) {
      ctx.err << TerminalText(name) << ": no password is kept for it here; remove the account and add it again\n";
      status = 1;
      continue;
    }
    const AccountSyncResult r = SyncToEnd(ctx, manager, accounts, id, *password);
    if (!r.error.ok()) {
      ctx.err << TerminalText(name) << ": " << TerminalText(r.error.message) << "\n";
      status = 1;
    }
    if (r.pulled || r.pushed > 0) {
      ctx.out << TerminalText(name) << ": " << r.pushed << " marks sent, " << r.added << " articles added, "
              << r.changed << " changed, " << r.removed << " removed\n";
    }
    // What the account brought is written before the next one starts.
    const LibraryFlushReport written = ctx.session->sync->FlushAndWait();
    if (written.failure) {
      ctx.err << "quillbend-cli: cannot save to " << path << ": " << *written.failure << "\n";
      return 1;
    }
  }
  if (!SaveUserData(ctx, manager, path)) return 1;
  return status;
}

QB_CLI_COMMAND({"sync", "sync [NAME]               sync the accounts (or the one named) with their servers",
                RunSync});

}  // namespace
}  // namespace qb::cli
