// The longest time the window's event loop goes without running while some
// work runs it: a 10 ms timer records the longest gap between two of its
// callbacks, in milliseconds (the window benchmarks' target: under 50 ms).
//
// On a machine shared with other work the wall-clock gap also holds the
// time the window's thread waited for a processor; LongestGaps also gives
// the thread's own processor time over the same gaps, which does not.
#pragma once

#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace qb::bench {

// Runs the event loop until `done` holds.
using Spin = std::function<void(const std::function<bool()>& done)>;

struct Gaps {
  double wallMs = 0;  // the longest gap by the clock
  double cpuMs = 0;   // the most processor time the window's thread spent in one gap
};

inline qint64 ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

inline Gaps LongestGaps(const std::function<void(const Spin& spin)>& work) {
  QTimer timer;
  timer.setInterval(10);
  timer.setTimerType(Qt::PreciseTimer);
  QElapsedTimer clock;
  qint64 last = 0, lastCpu = 0;
  Gaps longest;
  // A gap counts from the start of the work and through its end, so that
  // work done before the timer's first callback or after its last one is
  // not missed.
  const auto tick = [&] {
    const qint64 now = clock.nsecsElapsed();
    const qint64 cpu = ThreadCpuNs();
    longest.wallMs = std::max(longest.wallMs, static_cast<double>(now - last) / 1e6);
    longest.cpuMs = std::max(longest.cpuMs, static_cast<double>(cpu - lastCpu) / 1e6);
    last = now;
    lastCpu = cpu;
  };
  QObject::connect(&timer, &QTimer::timeout, tick);
  clock.start();
  last = clock.nsecsElapsed();
  lastCpu = ThreadCpuNs();
  timer.start();
  const Spin spin = [](const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  };
  work(spin);
  tick();
  return longest;
}

inline double LongestGap(const std::function<void(const Spin& spin)>& work) { return LongestGaps(work).wallMs; }

}  // namespace qb::bench
