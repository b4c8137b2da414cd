#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace qb::test {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int WaitForExit(pid_t pid) {
  if (pid <= 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::chrono::microseconds MomentWithin(std::chrono::steady_clock::duration whole, std::mt19937& rng) {
  return std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::duration_cast<std::chrono::microseconds>(whole) *
      std::uniform_real_distribution<double>(0.05, 1.1)(rng));
}

void KillAfter(pid_t pid, std::chrono::microseconds after) {
  if (pid <= 0) return;
  std::this_thread::sleep_for(after);
  ::kill(pid, SIGKILL);
  WaitForExit(pid);
}

KillPlan KillPlanFromEnvironment(int defaultRounds) {
  auto positive = [](const char* name, long fallback) {
    const char* v = std::getenv(name);
    const long n = v != nullptr ? std::atol(v) : 0;
    return n > 0 ? n : fallback;
  };
  KillPlan plan;
  plan.rounds = static_cast<int>(positive("QB_KILLED_SAVE_ROUNDS", defaultRounds));
  const long now = static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() & 0x7FFFFFFF);
  plan.seed = static_cast<unsigned>(positive("QB_KILLED_SAVE_SEED", now));
  return plan;
}

}  // namespace qb::test
