// Long work on the disk (the first import of the data file, an import or an
// export of one) on a thread of its own, while the window goes on painting
// and answering: after half a second a progress dialog says how far it has
// come, and its Cancel, where the work allows it, asks the work to stop.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>

class QWidget;

namespace qb {

struct WorkProgress {
  std::atomic<uint64_t> done{0};
  std::atomic<uint64_t> total{0};  // 0: not known (yet)
  std::atomic<bool> cancel{false};  // the user asked the work to stop
};

// Runs `work` on a worker thread and returns once it has ended; meanwhile
// the event loop runs (the window paints, the user can only cancel).
// `label(done, total)` is the dialog's text. Whether the user cancelled.
bool RunInBackground(QWidget* parent, const QString& title,
                     const std::function<QString(uint64_t done, uint64_t total)>& label, bool cancellable,
                     const std::function<void(WorkProgress& progress)>& work);

// Runs `step` on this thread, a turn of the event loop at a time, until it
// answers false or the user cancels, with the same dialog; for work that
// must change the model, which belongs to this thread. Whether the user
// cancelled.
bool RunInSlices(QWidget* parent, const QString& title,
                 const std::function<QString(uint64_t done, uint64_t total)>& label,
                 const std::function<bool(WorkProgress& progress)>& step);

// Gives memory the program freed back to the system (after a large import,
// when the allocator would keep it for later).
void ReleaseFreeMemory();

}  // namespace qb
