#include "app/CoreBridge.h"

#include "app/WaitCursor.h"
#include "feeds/UpdateCycle.h"
#include "model/DataFile.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

std::string DataFilePath() { return GetDataFilePath(); }

DataFileLoadReport CDataFileIo::Load(CFeedsManager& model, const std::string& path) {
  DataFileLoadReport report;
  const LoadOutcome outcome = LoadDataFile(model, path);
  report.message = ToQString(outcome.message);
  // A file from a newer version gets the exclamation mark; any other
  // message (a corrupt file) the stop sign.
  report.warning = outcome.status == LoadStatus::BadSchema;
  report.preservedCopy = QString::fromStdString(outcome.preservedCopy);
  return report;
}

bool CDataFileIo::Save(const CFeedsManager& model, const std::string& path) {
  return static_cast<bool>(SaveDataFile(model, path));
}

bool CCoreUpdater::UpdateAll(CFeedsManager& model, bool force) {
  WaitCursor wait;
  return qb::UpdateAll(model, force);
}

bool CCoreUpdater::UpdateSource(CFeedsManager& model, ObjectId source, bool force) {
  CFeedSource* s = model.GetFeedSource(source);
  if (s == nullptr) return false;
  WaitCursor wait;
  return qb::UpdateSource(model, *s, force);
}

}  // namespace qb
