#include "app/CoreBridge.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <map>
#include <mutex>

#include "model/BackgroundSaver.h"
#include "model/DataFile.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

std::string DataFilePath() { return GetDataFilePath(); }

// One saver per data file path, made on first use. `context` lives on the
// window's thread; results are handed to it with queued calls, which Qt
// drops once it is gone.
struct CDataFileIo::Background {
  QObject context;
  std::map<std::string, std::unique_ptr<CBackgroundSaver>> savers;

  CBackgroundSaver& SaverFor(const std::string& path) {
    std::unique_ptr<CBackgroundSaver>& saver = savers[path];
    if (!saver) saver = std::make_unique<CBackgroundSaver>(path);
    return *saver;
  }
};

CDataFileIo::CDataFileIo() : m_background(std::make_unique<Background>()) {}

CDataFileIo::~CDataFileIo() { WaitForSaves(); }

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
  QObject* context = &m_background->context;
  m_background->SaverFor(path).Save(
      model, [afterWrite = std::move(afterWrite), done = std::move(done),
              context](const SaveResult& result) {
        if (afterWrite) afterWrite(result);
        if (!done) return;
        const bool written = result.ok;
        // The saver's thread: the window hears of it from its event loop.
        QMetaObject::invokeMethod(
            context, [done, written] { done(written); }, Qt::QueuedConnection);
      });
}

void CDataFileIo::WaitForSaves() {
  for (auto& [path, saver] : m_background->savers) saver->Wait();
}

}  // namespace qb
