#include "sync/Accounts.h"

#include "base/Text.h"
#include "model/FeedsManager.h"

namespace qb {

std::u16string AccountName(const std::string& user, const std::string& apiBase) {
  const size_t scheme = apiBase.find("://");
  std::string host = scheme == std::string::npos ? apiBase : apiBase.substr(scheme + 3);
  host = host.substr(0, host.find('/'));
  return Utf8ToUtf16(user + "@" + host);
}

ObjectId AddAccount(CFeedsManager& model, CSyncModule& module, ISecretStore& secrets, SyncAccountSettings settings,
                    const std::string& password, std::u16string* error) {
  settings.name = AccountName(settings.user, settings.apiBase);
  for (const auto& [id, s] : module.Accounts()) {
    if (s.name == settings.name && model.GetGroup(id) != nullptr) {
      if (error != nullptr) *error = u"There is an account " + settings.name + u" already.";
      return 0;
    }
  }
  const ObjectId id = model.AddAccount(settings.name)->m_id;
  std::string why;
  if (!secrets.Write(AccountSecretKey(id), password, &why)) {
    model.Batch([&] {
      if (model.RootGroups().size() == 1) model.AddGroup(0, kAllSourcesName);
      model.DeleteGroup(id);
    });
    if (error != nullptr) *error = u"The password could not be kept: " + Utf8ToUtf16(why) + u".";
    return 0;
  }
  settings.account = id;
  module.PutAccount(std::move(settings));
  return id;
}

bool RemoveAccount(CFeedsManager& model, CSyncModule& module, ISecretStore& secrets, ObjectId account) {
  if (module.Account(account) == nullptr || model.GetGroup(account) == nullptr) return false;
  bool removed = false;
  model.Batch([&] {
    // The last root group cannot go: the local feeds get theirs first.
    if (model.RootGroups().size() == 1) model.AddGroup(0, kAllSourcesName);
    removed = model.DeleteGroup(account);
  });
  if (removed) secrets.Remove(AccountSecretKey(account));
  return removed;
}

}  // namespace qb
