// Adding and removing an account of a feed service, the same for the window
// and the command-line tool: the account node in the model, its settings
// in the library's sync module, its password in a secret store.
#pragma once

#include <cstdint>
#include <string>

#include "model/RSSObject.h"
#include "sync/SecretStore.h"
#include "sync/SyncModule.h"

namespace qb {

class CFeedsManager;

// The name an account is shown and found by: the user, "@" and the host of
// its API (with the port when there is one), "alice@rss.example.org".
std::u16string AccountName(const std::string& user, const std::string& apiBase);

// A new account node with these settings (`settings.account` and
// `settings.name` are filled in), written with the library's next batch,
// and its password kept in `secrets`. 0, with the reason in `error`, when
// an account of that name exists or the password could not be kept.
// REQUIRES: the sign-in was checked with the server.
ObjectId AddAccount(CFeedsManager& model, CSyncModule& module, ISecretStore& secrets, SyncAccountSettings settings,
                    const std::string& password, std::u16string* error = nullptr);

// Removes the account's copy here (the node with everything below it; the
// library's rows go with it) and its password; the account on the server
// stays. False for no account.
bool RemoveAccount(CFeedsManager& model, CSyncModule& module, ISecretStore& secrets, ObjectId account);

}  // namespace qb
