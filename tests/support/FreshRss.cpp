#include "tests/support/FreshRss.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "net/Download.h"
#include "tests/support/HttpServer.h"

namespace qb::test {

namespace fs = std::filesystem;

namespace {

// Runs `args` with its output into `log`; the child's pid.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string FreshRss::SourceFolder() {
  const char* env = std::getenv("QB_FRESHRSS");
  std::string folder = env != nullptr && *env != '\0' ? env : QB_SOURCE_DIR "/../shared/servers/freshrss";
  std::error_code ec;
  return fs::exists(fs::path(folder) / "p" / "api" / "greader.php", ec) ? folder : std::string();
}

FreshRss::FreshRss() {
  const std::string source = SourceFolder();
  if (source.empty()) throw std::runtime_error("no FreshRSS to copy");
  BypassProxyForLoopback();
  m_root = m_dir.File("freshrss");
  fs::copy(source, m_root, fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(m_root)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  fs::permissions(m_root, fs::perms::owner_write, fs::perm_options::add);
  m_port = HttpServer::ClosedPort();
  RunPhp({"cli/do-install.php", "--default-user", "admin", "--api-enabled", "--db-type", "sqlite",
          "--base-url", Address()});
  Start();
}

FreshRss::~FreshRss() { Stop(); }

std::string FreshRss::Address() const { return "http://127.0.0.1:" + std::to_string(m_port); }
std::string FreshRss::ApiBase() const { return Address() + "/api/greader.php"; }

void FreshRss::RunPhp(const std::vector<std::string>& args) {
  std::vector<std::string> command = {"php"};
  for (size_t i = 0; i < args.size(); ++i) command.push_back(i == 0 ? m_root + "/" + args[0] : args[i]);
  const std::string log = m_dir.File("php.log");
  const int status = Wait(Spawn(command, log));
  if (status != 0) {
    throw std::runtime_error("php " + args[0] + " failed (" + std::to_string(status) + "):\n" + ReadFile(log));
  }
}

void FreshRss::CreateUser(const std::string& user, const std::string& apiPassword) {
  RunPhp({"cli/create-user.php", "--user", user, "--password", apiPassword, "--api-password", apiPassword});
}

void FreshRss::Start() {
  if (m_server > 0) return;
  m_server = Spawn({"php", "-S", "127.0.0.1:" + std::to_string(m_port), "-t", m_root + "/p"},
                   m_dir.File("server.log"));
  DownloadOptions quick;
  quick.connectTimeoutMs = 200;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (DownloadBytes(ApiBase(), quick).httpStatus == 200) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("FreshRSS did not start:\n" + ReadFile(m_dir.File("server.log")));
}

void FreshRss::Stop() {
  if (m_server <= 0) return;
  kill(m_server, SIGTERM);
  Wait(m_server);
  m_server = -1;
}

}  // namespace qb::test
