#include "app/BackgroundWork.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace qb {

bool RunInBackground(QWidget* parent, const QString& title,
                     const std::function<QString(uint64_t done, uint64_t total)>& label, bool cancellable,
                     const std::function<void(WorkProgress& progress)>& work) {
  WorkProgress progress;
  QEventLoop loop;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work(progress);
    finished = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QProgressDialog dialog(label(0, 0), cancellable ? QStringLiteral("Cancel") : QString(), 0, 0, parent);
  dialog.setWindowTitle(title);
  dialog.setWindowModality(Qt::ApplicationModal);
  // Work the user may stop is shown at once, so that nothing else can be
  // started meanwhile; other work once it has lasted half a second.
  dialog.setMinimumDuration(cancellable ? 0 : 500);
  dialog.setAutoReset(false);
  dialog.setAutoClose(false);
  if (!cancellable) dialog.setCancelButton(nullptr);
  QTimer poll;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const uint64_t done = progress.done, total = progress.total;
    if (total > 0 && dialog.maximum() != static_cast<int>(std::min<uint64_t>(total, INT32_MAX))) {
      dialog.setMaximum(static_cast<int>(std::min<uint64_t>(total, INT32_MAX)));
    }
    dialog.setLabelText(label(done, total));
    dialog.setValue(static_cast<int>(std::min<uint64_t>(done, INT32_MAX)));
    if (dialog.wasCanceled()) progress.cancel = true;
  });
  poll.start();
  // The worker may have ended already: then its quit is waiting in the loop.
  if (!finished) loop.exec(cancellable ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
  poll.stop();
  worker.join();
  return progress.cancel;
}

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

bool RunInSlices(QWidget* parent, const QString& title,
                 const std::function<QString(uint64_t done, uint64_t total)>& label,
                 const std::function<bool(WorkProgress& progress)>& step) {
  WorkProgress progress;
  QProgressDialog dialog(label(0, 0), QStringLiteral("Cancel"), 0, 0, parent);
  dialog.setWindowTitle(title);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setMinimumDuration(0);
  dialog.setAutoReset(false);
  dialog.setAutoClose(false);
  QEventLoop loop;
  QTimer turn;
  turn.setInterval(0);
  QObject::connect(&turn, &QTimer::timeout, [&] {
    if (dialog.wasCanceled()) progress.cancel = true;
    const bool more = !progress.cancel && step(progress);
    const uint64_t done = progress.done, total = progress.total;
    if (total > 0) dialog.setMaximum(static_cast<int>(std::min<uint64_t>(total, INT32_MAX)));
    dialog.setLabelText(label(done, total));
    dialog.setValue(static_cast<int>(std::min<uint64_t>(done, INT32_MAX)));
    if (!more) loop.quit();
  });
  turn.start();
  loop.exec();
  turn.stop();
  return progress.cancel;
}

}  // namespace qb
