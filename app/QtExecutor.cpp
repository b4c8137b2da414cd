#include "app/QtExecutor.h"

#include <QMetaObject>
#include <utility>

namespace qb {

void CQtExecutor::Post(Task task) {
  QMetaObject::invokeMethod(&m_context, std::move(task), Qt::QueuedConnection);
}

}  // namespace qb
