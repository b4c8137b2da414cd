#include "app/CoreBridge.h"

#include <QDir>
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
  (void)LoadDataFile(manager, path);
#else
  (void)path;
#endif
  manager.FixUpAfterLoad();
  return report;
}

bool SaveDataFileFrom(const CFeedsManager& manager, const std::string& path) {
#ifdef QB_HAVE_DATA_FILE
  return SaveDataFile(manager, path);
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

}  // namespace qb
