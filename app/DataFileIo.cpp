#include "app/DataFileIo.h"

#include "classic/DataFile.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

std::string DataFilePath() { return GetDataFilePath(); }

CDataFileIo::CDataFileIo() = default;
CDataFileIo::~CDataFileIo() = default;

SaveResult IDataFileIo::ExportDataFile(const CFeedsManager& model, const std::string& path) {
  return SaveDataFile(model, path);
}

SaveResult IDataFileIo::ExportModel(const CFeedsManager& model, const std::string& path) {
  return SaveDataFile(model, path);
}

DataFileLoadReport CDataFileIo::Load(CFeedsManager& model, const std::string& path,
                                     CValidatorStore* fetchState) {
  DataFileLoadReport report;
  // Taken before the load: the validators saved with this very file are
  // used only if nothing has written it since.
  const DataFileFingerprint before = DataFileFingerprint::Of(path);
  const LoadOutcome outcome = LoadDataFile(model, path);
  report.message = ToQString(outcome.message);
  // A file from a newer version gets the exclamation mark; any other
  // message (a corrupt file) the stop sign.
  report.warning = outcome.status == LoadStatus::BadSchema;
  report.preservedCopy = QString::fromStdString(outcome.preservedCopy);
  report.loadedWhole = outcome.ok() || outcome.fileAbsent;
  if (fetchState != nullptr) {
    fetchState->Load(CValidatorStore::CachePathFor(path), before, report.loadedWhole);
  }
  return report;
}

bool CDataFileIo::Save(const CFeedsManager& model, const std::string& path,
                       const CValidatorStore* fetchState) {
  const SaveResult result = SaveDataFile(model, path);
  if (fetchState != nullptr) CValidatorStore::WriteAfterSave(fetchState->CopyFor(model), path)(result);
  return result.ok;
}

void CDataFileIo::SaveInBackground(const CFeedsManager& model, const std::string& path,
                                   const CValidatorStore* fetchState,
                                   std::function<void(bool written)> done) {
  const bool written = Save(model, path, fetchState);
  if (done) done(written);
}

void CDataFileIo::WaitForSaves() {}

}  // namespace qb
