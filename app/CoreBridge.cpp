#include "app/CoreBridge.h"

#include <QDir>
#include <QGuiApplication>
#include <QStandardPaths>

#include "model/FeedsManager.h"

#if __has_include("model/DataFile.h")
#include "model/DataFile.h"
#define QB_HAVE_DATA_FILE 1
#endif
#if __has_include("feeds/UpdateCycle.h")
#include "feeds/UpdateCycle.h"
#define QB_HAVE_UPDATE_CYCLE 1
#endif

namespace qb {

std::string DataFilePath() {
#ifdef QB_HAVE_DATA_FILE
  return GetDataFilePath();
#else
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/Velmorant/Quillbend");
  QDir().mkpath(folder);
  return (folder + QStringLiteral("/Feeds")).toStdString();
#endif
}

DataFileLoadReport LoadDataFileInto(CFeedsManager& manager, const std::string& path) {
  DataFileLoadReport report;
#ifdef QB_HAVE_DATA_FILE
  const LoadOutcome outcome = LoadDataFile(manager, path);
  if (outcome.messageKind != LoadMessageKind::None) {
    report.message = QString::fromUtf16(outcome.message.data(),
                                        static_cast<qsizetype>(outcome.message.size()));
    report.warning = outcome.messageKind == LoadMessageKind::Exclamation;
  }
  report.preservedCopy = QString::fromStdString(outcome.preservedCopy);
#else
  (void)path;
  manager.FixUpAfterLoad();
#endif
  return report;
}

bool SaveDataFileFrom(const CFeedsManager& manager, const std::string& path) {
#ifdef QB_HAVE_DATA_FILE
  return static_cast<bool>(SaveDataFile(manager, path));
#else
  (void)manager;
  (void)path;
  return false;
#endif
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
