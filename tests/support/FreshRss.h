// A real FreshRSS for the sync tests: the copy in ../shared/servers/freshrss
// (or $QB_FRESHRSS) is copied to a temporary folder (the shared one is
// read-only), installed with SQLite, and served by PHP's built-in server on
// a free loopback port until the object goes. Users are made as a test
// needs them, each with an API password, so that tests sharing one server
// do not see each other's subscriptions.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace qb::test {

class FreshRss {
 public:
  // Where the shared copy is; empty when it is absent.
  static std::string SourceFolder();

  // Copies, installs and starts it; throws std::runtime_error with PHP's
  // output when a step fails.
  FreshRss();
  // Stops the server.
  ~FreshRss();
  FreshRss(const FreshRss&) = delete;
  FreshRss& operator=(const FreshRss&) = delete;

  // The API's base, http://127.0.0.1:PORT/api/greader.php.
  std::string ApiBase() const;
  // The web address, for GReaderApiBase(kFreshRss, ...).
  std::string Address() const;

  // A new user with this API password (its web password the same).
  void CreateUser(const std::string& user, const std::string& apiPassword);

  // Stops serving (the port stays the server's) and serves again.
  void Stop();
  void Start();

 private:
  // Runs a PHP script of the installation; throws with its output when it
  // fails.
  void RunPhp(const std::vector<std::string>& args);

  TempDir m_dir;
  std::string m_root;
  uint16_t m_port = 0;
  pid_t m_server = -1;
};

}  // namespace qb::test
