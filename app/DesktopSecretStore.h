// Where the window keeps the accounts' passwords: in the desktop's secret
// store (the Secret Service, through QtKeychain) when one answers. Where
// none does (a session without one, as under a bare X server), the user is
// asked once whether to keep them in a file only they can read (the file
// store, which the command-line tool reads too) or to give them again at
// each start; the answer, never a password, is kept in the settings.
//
// A password kept in the file before (by an older window, or added with
// the command-line tool) is still found there. Threads: the window's; a
// call on the desktop's store waits for its answer (a local call, not the
// network) in a loop that takes no user input.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <memory>

#include "sync/SecretStore.h"

namespace qb {

// The desktop's secret store through QtKeychain, under the service
// "Quillbend"; null when none answers.
std::unique_ptr<ISecretStore> OpenDesktopKeychain();

class CDesktopSecretStore final : public ISecretStore {
 public:
  // Where the passwords go when the desktop keeps none.
  enum class Fallback { Unasked, File, EachStart };
  // The settings' name of the answer, in the section "Accounts".
  static constexpr char kSettingName[] = "PasswordsWithoutSecretStore";

  // `desktop` is the desktop's store, null when none answers; `askFile`
  // asks the user whether to keep the passwords in a file (true) or to
  // give them at each start (false), asked at the first password kept.
  CDesktopSecretStore(std::unique_ptr<ISecretStore> desktop, std::string fileFolder, std::function<bool()> askFile);

  std::optional<std::string> Read(const std::string& key) override;
  bool Write(const std::string& key, const std::string& secret, std::string* error = nullptr) override;
  void Remove(const std::string& key) override;

  bool HasDesktopStore() const { return m_desktop != nullptr; }
  // The answer as the settings keep it (Unasked until asked).
  static Fallback StoredFallback();

 private:
  std::unique_ptr<ISecretStore> m_desktop;
  CFileSecretStore m_file;
  std::function<bool()> m_askFile;
  // The passwords given in this run when they are given at each start.
  std::map<std::string, std::string> m_memory;
};

}  // namespace qb
