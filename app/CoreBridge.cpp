#include "app/CoreBridge.h"

#include <QCursor>
#include <QGuiApplication>

#include "feeds/UpdateCycle.h"
#include "model/DataFile.h"
#include "model/FeedsManager.h"

namespace qb {

std::string DataFilePath() { return GetDataFilePath(); }

DataFileLoadReport LoadDataFileInto(CFeedsManager& manager, const std::string& path) {
  DataFileLoadReport report;
  const LoadOutcome outcome = LoadDataFile(manager, path);
  report.message = QString(reinterpret_cast<const QChar*>(outcome.message.data()),
                           static_cast<qsizetype>(outcome.message.size()));
  // A file from a newer version gets the exclamation mark; any other
  // message (a corrupt file) the stop sign.
  report.warning = outcome.status == LoadStatus::BadSchema;
  report.preservedCopy = QString::fromStdString(outcome.preservedCopy);
  return report;
}

bool SaveDataFileFrom(const CFeedsManager& manager, const std::string& path) {
  return static_cast<bool>(SaveDataFile(manager, path));
}

bool RunUpdateAll(CFeedsManager& manager, bool force) { return UpdateAll(manager, force); }

namespace {
// The update cycle's wait cursor: the window's override cursor, nested.
class CQtWaitCursor : public IWaitCursor {
 public:
  void BeginWait() override { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  void EndWait() override { QGuiApplication::restoreOverrideCursor(); }
};
}  // namespace

void InstallWaitCursor(bool install) {
  static CQtWaitCursor cursor;
  SetWaitCursor(install ? &cursor : nullptr);
}

}  // namespace qb
