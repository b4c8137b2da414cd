// A program run as a child of the test (quillbend-cli, mostly): started
// with its output discarded, waited for, or killed at a random moment of a
// run, as a crash or a power cut would stop it. The killed-process tests
// share it: they measure one whole run, then kill runs anywhere within
// that time and check what the files hold afterwards.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace qb::test {

// Starts `program` with `args` (the environment of the test), its standard
// output and error going to /dev/null. The child's pid; -1 when fork fails.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args);

// Waits for the child; its exit status, -1 when it did not exit normally
// (killed by a signal).
int WaitForExit(pid_t pid);

// Starts the program and waits for it.
inline int RunProgram(const std::string& program, const std::vector<std::string>& args) {
  return WaitForExit(StartProgram(program, args));
}

// A moment of a run that takes `whole`: anywhere from 5% of it to a tenth
// past its end, so that some kills fall before the first write and some
// after the last.
std::chrono::microseconds MomentWithin(std::chrono::steady_clock::duration whole, std::mt19937& rng);

// Sends SIGKILL to the child `after` its start and reaps it.
void KillAfter(pid_t pid, std::chrono::microseconds after);

// The number of kills and the seed of their moments: QB_KILLED_SAVE_ROUNDS
// (else `defaultRounds`) and QB_KILLED_SAVE_SEED (else the time), so that a
// run that found a fault can be repeated.
struct KillPlan {
  int rounds = 0;
  unsigned seed = 0;
};
KillPlan KillPlanFromEnvironment(int defaultRounds);

}  // namespace qb::test
