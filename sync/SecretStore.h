// Where the password of an account is kept: never in the library, the
// settings file or an export. One small interface, so that the window can
// keep it in the desktop's secret store and the command-line tool in a
// file of the user's alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb {

class ISecretStore {
 public:
  virtual ~ISecretStore() = default;
  // The secret kept under `key`, nothing when none is.
  virtual std::optional<std::string> Read(const std::string& key) = 0;
  // Keeps it, replacing what was kept; false with the reason when it could
  // not be.
  virtual bool Write(const std::string& key, const std::string& secret, std::string* error = nullptr) = 0;
  virtual void Remove(const std::string& key) = 0;
};

// The key of an account's password: the account's group, which stays the
// same while the account is there.
std::string AccountSecretKey(uint32_t account);

// One file per key in a folder only the user may enter (mode 0700), each
// file readable and writable by the user alone (0600), written whole
// before it replaces the old one. A key of anything but letters, digits,
// '-' and '_' is refused. A file that others may read is not trusted.
class CFileSecretStore final : public ISecretStore {
 public:
  explicit CFileSecretStore(std::string folder) : m_folder(std::move(folder)) {}
  // $XDG_DATA_HOME/Velmorant/Quillbend/private.
  static std::string DefaultFolder();

  std::optional<std::string> Read(const std::string& key) override;
  bool Write(const std::string& key, const std::string& secret, std::string* error = nullptr) override;
  void Remove(const std::string& key) override;

 private:
  std::string PathOf(const std::string& key) const;
  std::string m_folder;
};

}  // namespace qb
