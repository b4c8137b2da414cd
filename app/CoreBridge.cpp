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

namespace {
bool& WaitCursorInstalled() {
  static bool installed = false;
  return installed;
}
}  // namespace

bool RunUpdateAll(CFeedsManager& manager, bool force) {
  // The pass runs to completion here, so the window shows that it waits.
  const bool wait = WaitCursorInstalled();
  if (wait) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const bool news = UpdateAll(manager, force);
  if (wait) QGuiApplication::restoreOverrideCursor();
  return news;
}

void InstallWaitCursor(bool install) { WaitCursorInstalled() = install; }

}  // namespace qb
