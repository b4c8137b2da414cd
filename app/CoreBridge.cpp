#include "app/CoreBridge.h"

#include <QCursor>
#include <QGuiApplication>

#include "model/DataFile.h"
#include "model/FeedsManager.h"

#if __has_include("feeds/UpdateCycle.h")
#include "feeds/UpdateCycle.h"
#define QB_HAVE_UPDATE_CYCLE 1
#endif

namespace qb {

std::string DataFilePath() { return GetDataFilePath(); }

DataFileLoadReport LoadDataFileInto(CFeedsManager& manager, const std::string& path) {
  DataFileLoadReport report;
  const LoadOutcome outcome = LoadDataFile(manager, path);
  if (outcome.messageKind != LoadMessageKind::None) {
    report.message = QString::fromUtf16(outcome.message.data(),
                                        static_cast<qsizetype>(outcome.message.size()));
    report.warning = outcome.messageKind == LoadMessageKind::Exclamation;
  }
  report.preservedCopy = QString::fromStdString(outcome.preservedCopy);
  return report;
}

bool SaveDataFileFrom(const CFeedsManager& manager, const std::string& path) {
  return static_cast<bool>(SaveDataFile(manager, path));
}

bool RunUpdateAll(CFeedsManager& manager, bool force) {
#ifdef QB_HAVE_UPDATE_CYCLE
  return UpdateAll(manager, force);
#else
  (void)manager;
  (void)force;
  return false;
#endif
}

#ifdef QB_HAVE_UPDATE_CYCLE
namespace {
// The update cycle's wait cursor: the window's override cursor, nested.
class CQtWaitCursor : public IWaitCursor {
 public:
  void BeginWait() override { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  void EndWait() override { QGuiApplication::restoreOverrideCursor(); }
};
}  // namespace
#endif

void InstallWaitCursor(bool install) {
#ifdef QB_HAVE_UPDATE_CYCLE
  static CQtWaitCursor cursor;
  SetWaitCursor(install ? &cursor : nullptr);
#else
  (void)install;
#endif
}

}  // namespace qb
