// The window's executor: tasks posted from any thread run on the thread
// whose event loop made the executor, from that loop, in the order posted.
// Tasks still queued when it is destroyed are dropped unrun.
#pragma once

#include <QObject>

#include "base/Executor.h"

namespace qb {

class CQtExecutor final : public IExecutor {
 public:
  CQtExecutor() = default;
  CQtExecutor(const CQtExecutor&) = delete;
  CQtExecutor& operator=(const CQtExecutor&) = delete;

  void Post(Task task) override;

 private:
  // Lives on the window's thread; Qt drops the calls queued for it when it
  // goes.
  QObject m_context;
};

}  // namespace qb
