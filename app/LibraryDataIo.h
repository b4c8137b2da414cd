// The window's store: the user's library (library/Library.h), the same one
// quillbend-cli uses without --data. On the first start the classic data
// file is imported into it and left as it was, as a backup; the status line
// says so once.
//
// What the model changes is written as rows, never the whole model: the
// library observes the model, and once per turn of the event loop that
// saw changes it hands the changed rows to the one writer thread of its
// CLibraryLink, which writes them in one transaction. The window never
// waits for the disk except in Save (the final flush at exit). A change is
// on the disk a turn of the event loop after it is made; a failed write is
// tried again a second later, and every second the library looks for what
// another process (quillbend-cli) committed, which comes into the model as
// one change marked external.
//
// A library that cannot be opened (damaged, newer, in a folder that cannot
// be written) is never written over: Load's report carries the message to
// show, a damaged one has been moved aside, and the session runs on what
// could be read without saving. A write that fails (a full disk) is said
// at once through the save-state listener and tried again every second;
// nothing the model holds is lost meanwhile.
//
// Threads: the window's. Results of the writer thread come back through
// the executor, which must outlive this object.
#pragma once

#include <QTimer>
#include <memory>
#include <string>

#include "app/DataFileIo.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/ModelChange.h"
#include "sync/SyncModule.h"

namespace qb {

class CLibraryDataIo final : public IDataFileIo, private IModelObserver, private IReaderStore {
 public:
  // The library at `libraryPath` (empty: GetLibraryPath()).
  explicit CLibraryDataIo(IExecutor& executor, std::string libraryPath = {});
  ~CLibraryDataIo();
  CLibraryDataIo(const CLibraryDataIo&) = delete;
  CLibraryDataIo& operator=(const CLibraryDataIo&) = delete;

  // Opens the library (importing the data file at `path` when there is no
  // library yet, with the fetch state kept beside it) and loads the model
  // from it; from then on the model's changes are written to it. The fetch
  // state is the library's too: loaded from it, each change written with
  // the rows of its turn, what other processes store read into it. It must
  // outlive this object or the next Load. One model at a time: a second
  // Load replaces the first.
  DataFileLoadReport Load(CFeedsManager& model, const std::string& path,
                          CValidatorStore* fetchState = nullptr) override;
  // Writes every change now and waits (at exit), the fetch state's with
  // them. `path` and `fetchState` are not used: the rows go to the library,
  // the state given to Load with them.
  bool Save(const CFeedsManager& model, const std::string& path,
            const CValidatorStore* fetchState = nullptr) override;
  // Hands what changed to the writer; `done` hears, on this thread, whether
  // the latest write failed (false) or not.
  void SaveInBackground(const CFeedsManager& model, const std::string& path,
                        const CValidatorStore* fetchState,
                        std::function<void(bool written)> done) override;
  void WaitForSaves() override;
  void Detach(const CFeedsManager& model) override;

  // File > "Export data file...": the library as a classic data file.
  SaveResult ExportDataFile(const CFeedsManager& model, const std::string& path) override;

  void FlushSoon() override { PostFlush(); }
  SaveState CurrentSaveState() const override;
  void SetSaveStateListener(std::function<void(const SaveState&)> listener) override {
    m_saveStateListener = std::move(listener);
  }

  // The reader view's results, in the library with the model's rows.
  IReaderStore* ReaderStore() override { return m_sync ? this : nullptr; }
  const std::string& LibraryPath() const { return m_path; }
  // Whether changes are waiting to be written (or being written).
  bool HasPending() const { return m_sync && m_sync->HasPending(); }
  // Runs a flush now (tests; the event loop does it otherwise).
  LibraryFlushReport FlushNow();
  // How often a failed write is tried again and other processes' commits
  // are looked for (tests: a change must reach the disk without it).
  void SetHeartbeatInterval(int milliseconds) { m_retry.setInterval(milliseconds); }
  // The library in use (tests); null when none is open.
  CLibrary* Library() { return m_library.get(); }
  // The accounts of feed services kept in it (sync/SyncModule.h); null
  // when the library is not open for writing.
  CSyncModule* Accounts() { return m_accounts.get(); }
  // Given to the accounts' module of every Load (CSyncModule).
  void SetAccountRemovedHook(std::function<void(ObjectId)> hook) { m_accountRemoved = std::move(hook); }

 private:
  void OnModelChanged(const CFeedsManager& model, const CModelChange& change) override;
  void OnModelGone(const CFeedsManager& model) override;
  bool FindReaderText(ObjectId article, ReaderText& out) override;
  void KeepReaderText(ReaderText text, std::u16string articleTitle, std::u16string channel) override;
  void PostFlush();
  void Close();
  // The state a flush reported, told to the listener when it changed.
  void Note(const LibraryFlushReport& report);

  CExecutorScope m_tasks;
  std::string m_path;
  CFeedsManager* m_model = nullptr;
  std::unique_ptr<CLibrary> m_library;
  LibraryLoadResult m_load;
  std::unique_ptr<CLibraryLink> m_sync;
  std::unique_ptr<CSyncModule> m_accounts;
  std::function<void(ObjectId)> m_accountRemoved;
  bool m_flushPosted = false;
  // Renewed by Close, so the hook set on a fetch state does nothing after.
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  // A failed write waits for it; it also looks for other processes' commits.
  QTimer m_retry;
  SaveState m_saveState;
  size_t m_storedTextsTrimmed = 0;
  std::function<void(const SaveState&)> m_saveStateListener;
};

// What the user is told of a failed write: "the disk is full".
QString DescribeWriteFailure(const LibraryFlushReport& report);

}  // namespace qb
