// What the account commands share: the sync module on the library a
// command loaded, the accounts by name, the password file, and a sync run
// to its end.
#pragma once

#include <memory>
#include <string>

#include "model/FeedsManager.h"
#include "sync/AccountSync.h"
#include "sync/SecretStore.h"
#include "sync/SyncModule.h"
#include "tools/Cli.h"

namespace qb::cli {

// The sync module added to the library of ctx.session (after
// LoadUserData) and its accounts read; removed again when it goes.
class CAccountsSession {
 public:
  CAccountsSession(CliContext& ctx, const CFeedsManager& model);
  ~CAccountsSession();
  CAccountsSession(const CAccountsSession&) = delete;
  CAccountsSession& operator=(const CAccountsSession&) = delete;

  bool ok() const { return m_ok; }
  CSyncModule& Module() { return m_module; }
  CLibrary& Library();
  // The account of that name, 0 for none.
  ObjectId Find(const std::u16string& name) const;

 private:
  CliContext& m_ctx;
  CSyncModule m_module;
  bool m_ok = false;
};

// Where the command-line tool keeps passwords (the window will keep them
// in the desktop's secret store).
CFileSecretStore CliSecrets();

// Reads the password from standard input (one line), with the terminal's
// echo off when it is one. Nothing when there is none.
std::optional<std::string> ReadPassword(CliContext& ctx);

// Syncs the account to its end, telling the progress on ctx.err.
AccountSyncResult SyncToEnd(CliContext& ctx, CFeedsManager& model, CAccountsSession& accounts, ObjectId account,
                            const std::string& password);

}  // namespace qb::cli
