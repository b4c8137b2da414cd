// The longest time the window's event loop goes without running while some
// work runs it: a 10 ms timer records the longest gap between two of its
// callbacks, in milliseconds (the window benchmarks' target: under 50 ms).
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace qb::bench {

// Runs the event loop until `done` holds.
using Spin = std::function<void(const std::function<bool()>& done)>;

inline double LongestGap(const std::function<void(const Spin& spin)>& work) {
  QTimer timer;
  timer.setInterval(10);
  timer.setTimerType(Qt::PreciseTimer);
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 longest = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (last != 0) longest = std::max(longest, now - last);
    last = now;
  });
  clock.start();
  timer.start();
  const Spin spin = [](const std::function<bool()>& done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  };
  work(spin);
  return static_cast<double>(longest) / 1e6;
}

}  // namespace qb::bench
