#include "app/CoreBridge.h"

#include <map>
#include <mutex>

#include "app/QtExecutor.h"
#include "model/BackgroundSaver.h"
#include "model/DataFile.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

std::string DataFilePath() { return GetDataFilePath(); }

// One saver per data file path, made on first use. Results are handed to
// the window's thread through the executor; those still queued are dropped
// with `tasks`, which goes after the savers have finished.
struct CDataFileIo::Background {
  explicit Background(IExecutor* executor)
      : own(executor == nullptr ? std::make_unique<CQtExecutor>() : nullptr),
        tasks(executor != nullptr ? *executor : *own) {}

  std::unique_ptr<CQtExecutor> own;
  CExecutorScope tasks;
  std::map<std::string, std::unique_ptr<CBackgroundSaver>> savers;

  CBackgroundSaver& SaverFor(const std::string& path) {
    std::unique_ptr<CBackgroundSaver>& saver = savers[path];
    if (!saver) saver = std::make_unique<CBackgroundSaver>(path);
    return *saver;
  }
};

CDataFileIo::CDataFileIo(IExecutor* executor)
    : m_background(std::make_unique<Background>(executor)) {}

CDataFileIo::~CDataFileIo() {
  WaitForSaves();
  // The savers' threads end before the tasks they posted are dropped.
  m_background->savers.clear();
}

DataFileLoadReport CDataFileIo::Load(CFeedsManager& model, const std::string& path) {
  DataFileLoadReport report;
  const LoadOutcome outcome = LoadDataFile(model, path);
  report.message = ToQString(outcome.message);
  // A file from a newer version gets the exclamation mark; any other
  // message (a corrupt file) the stop sign.
  report.warning = outcome.status == LoadStatus::BadSchema;
  report.preservedCopy = QString::fromStdString(outcome.preservedCopy);
  report.loadedWhole = outcome.ok() || outcome.fileAbsent;
  return report;
}

bool CDataFileIo::Save(const CFeedsManager& model, const std::string& path,
                       const CValidatorStore* fetchState) {
  // A background save still writing must not finish after this one.
  WaitForSaves();
  const SaveResult result = SaveDataFile(model, path);
  if (fetchState != nullptr) CValidatorStore::WriteAfterSave(fetchState->CopyFor(model), path)(result);
  return result.ok;
}

void CDataFileIo::SaveInBackground(const CFeedsManager& model, const std::string& path,
                                   const CValidatorStore* fetchState,
                                   std::function<void(bool written)> done) {
  std::function<void(const SaveResult&)> afterWrite;
  if (fetchState != nullptr) {
    afterWrite = CValidatorStore::WriteAfterSave(fetchState->CopyFor(model), path);
  }
  // The saver's thread reads it; it outlives every saver (see ~CDataFileIo).
  CExecutorScope* tasks = &m_background->tasks;
  m_background->SaverFor(path).Save(
      model, [afterWrite = std::move(afterWrite), done = std::move(done),
              tasks](const SaveResult& result) {
        if (afterWrite) afterWrite(result);
        if (!done) return;
        const bool written = result.ok;
        // The saver's thread: the window hears of it from its event loop.
        tasks->Post([done, written] { done(written); });
      });
}

void CDataFileIo::WaitForSaves() {
  for (auto& [path, saver] : m_background->savers) saver->Wait();
}

}  // namespace qb
