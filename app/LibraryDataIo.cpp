#include "app/LibraryDataIo.h"

#include <QApplication>
#include <QFileInfo>

#include "app/BackgroundWork.h"

#include "model/FeedsManager.h"
#include "update/Validators.h"
#include "views/ViewText.h"

namespace qb {

namespace {

// How often a failed write is tried again and other processes' commits are
// looked for.
constexpr int kHeartbeatMs = 1000;

}  // namespace

CLibraryDataIo::CLibraryDataIo(IExecutor& executor, std::string libraryPath)
    : m_tasks(executor), m_path(std::move(libraryPath)) {
  m_retry.setInterval(kHeartbeatMs);
  QObject::connect(&m_retry, &QTimer::timeout, [this] { FlushNow(); });
}

CLibraryDataIo::~CLibraryDataIo() { Close(); }

void CLibraryDataIo::Close() {
  m_retry.stop();
  // The fetch state may already be gone (its updater goes first); its hook
  // finds this token expired.
  m_alive = std::make_shared<bool>(true);
  // The writer stops (after the write in flight) before the library goes.
  m_sync.reset();
  if (m_accounts) {
    m_library->RemoveModule(*m_accounts);
    m_accounts.reset();
  }
  if (m_model != nullptr) {
    m_model->RemoveObserver(this);
    if (m_model->ArticleStore() == m_library.get()) m_model->SetArticleStore(nullptr);
    m_model = nullptr;
  }
  if (m_library) m_library->Close();
  m_library.reset();
}

DataFileLoadReport CLibraryDataIo::Load(CFeedsManager& model, const std::string& path,
                                        CValidatorStore* fetchState) {
  Close();
  DataFileLoadReport report;
  if (m_path.empty()) m_path = GetLibraryPath();
  m_library = std::make_unique<CLibrary>();
  LibraryOpenOptions options;
  options.importFrom = path;
  // A large library is checked while the window comes up; nothing is
  // written before the check has answered.
  options.checkLater = true;
  // The first start takes over the state kept beside the data file.
  if (fetchState != nullptr && !QFileInfo::exists(QString::fromStdString(m_path))) {
    options.importUpdateStates = CValidatorStore::CarryIntoLibrary(path);
  }
  LibraryOpenOutcome out;
  if (!QFileInfo::exists(QString::fromStdString(m_path)) && QFileInfo::exists(QString::fromStdString(path))) {
    // The first start takes the data file in, which for a large file takes
    // a while: on a thread of its own, its progress shown.
    RunInBackground(
        nullptr, QStringLiteral("Quillbend"),
        [](uint64_t done, uint64_t total) {
          return total == 0 ? QStringLiteral("Importing the data file\u2026")
                            : QStringLiteral("Importing the data file: %L1 of %L2 records").arg(done).arg(total);
        },
        false,
        [&](WorkProgress& progress) {
          options.importProgress = [&progress](uint64_t done, uint64_t total) {
            progress.done = done;
            progress.total = total;
          };
          out = m_library->Open(m_path, options);
          options.importProgress = nullptr;
        });
  } else {
    out = m_library->Open(m_path, options);
  }
  report.statusNote = ToQString(out.importNotice);
  if (out.imported && !out.import.validatorsDropped.empty()) {
    report.statusNote += QStringLiteral(" The feeds' update state came without validators, as %1.")
                             .arg(QString::fromStdString(out.import.validatorsDropped));
  }
  report.preservedCopy = QString::fromStdString(out.keptAside);
  // A damaged library (moved aside) gets the stop sign; a newer one or a
  // folder that cannot be written the exclamation mark.
  report.message = ToQString(out.message);
  report.warning = out.keptAside.empty();
  if (report.message.isEmpty() && out.imported && !out.import.load.complete()) {
    // The data file itself could be read only in part; it stays as it was.
    report.message = ToQString(out.import.load.message);
    report.warning = out.import.load.status == LoadStatus::BadSchema;
  }
  if (!out.opened) {
    m_library.reset();
    return report;
  }
  m_load = m_library->Load(model, CLibrary::LoadScope::Everything);
  m_model = &model;
  model.AddObserver(this);
  if (!m_load.ok) {
    if (report.message.isEmpty()) {
      report.message = QStringLiteral("The library could not be read (%1); changes made now will not be saved.")
                           .arg(QString::fromStdString(m_load.error));
      report.warning = false;
    }
    return report;
  }
  report.loadedWhole = out.import.load.complete() || !out.imported;
  if (fetchState != nullptr) {
    std::vector<LibraryUpdateState> stored;
    m_library->ReadUpdateStates(stored);
    fetchState->Replace(stored);
  }
  if (m_library->Writable()) {
    CLibraryLink::Options syncOptions;
    // The writer's thread: the collection of its result and the next batch
    // run on the window's thread.
    syncOptions.written = [this] { m_tasks.Post([this] { PostFlush(); }); };
    m_sync = std::make_unique<CLibraryLink>(model, *m_library, &m_load, std::move(syncOptions));
    m_accounts = std::make_unique<CSyncModule>(model);
    m_accounts->SetAccountRemovedHook(m_accountRemoved);
    m_library->AddModule(*m_accounts);
    m_accounts->Load(*m_library);
    if (fetchState != nullptr) {
      // A pass's state goes with the rows of the turn that applied it; a
      // state changed alone (a "not modified", a failure) asks for a turn
      // of its own.
      m_sync->SetUpdateStates(fetchState);
      fetchState->SetChangeHook([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.expired()) PostFlush();
      });
    }
    // What the load repaired goes to the library with the first turn.
    PostFlush();
  }
  m_retry.start();
  return report;
}

void CLibraryDataIo::OnModelChanged(const CFeedsManager&, const CModelChange& change) {
  if (!change.external) PostFlush();
}

void CLibraryDataIo::OnModelGone(const CFeedsManager& model) {
  if (&model != m_model) return;
  // The model has let go of its observers, the writer among them, which
  // does nothing from now on; it goes with the next Load or with this.
  m_model = nullptr;
  m_retry.stop();
}

void CLibraryDataIo::Detach(const CFeedsManager& model) {
  if (&model == m_model) Close();
}

bool CLibraryDataIo::FindReaderText(ObjectId article, ReaderText& out) {
  return m_sync && m_sync->FindReaderText(article, out);
}

void CLibraryDataIo::KeepReaderText(ReaderText text, std::u16string articleTitle, std::u16string channel) {
  if (!m_sync) return;
  m_sync->KeepReaderText(std::move(text), std::move(articleTitle), std::move(channel));
  PostFlush();
}

void CLibraryDataIo::PostFlush() {
  if (m_flushPosted || !m_sync) return;
  // Every change of this turn of the event loop goes in the one batch.
  m_flushPosted = true;
  m_tasks.Post([this] {
    m_flushPosted = false;
    FlushNow();
  });
}

LibraryFlushReport CLibraryDataIo::FlushNow() {
  if (!m_sync || m_model == nullptr) return {};
  LibraryFlushReport report = m_sync->Flush();
  Note(report);
  // Texts written in large numbers (an import) leave the memory they took.
  const size_t stored = m_model->StoredTextCount();
  if (report.written && stored >= m_storedTextsTrimmed + 5000) {
    ReleaseFreeMemory();
    m_storedTextsTrimmed = stored;
  }
  return report;
}

QString DescribeWriteFailure(const LibraryFlushReport& report) {
  if (report.damaged) return QStringLiteral("the library is damaged; Quillbend saves what it can of it at the next start");
  if (report.collisions > 0 && !report.failure) {
    return QStringLiteral("%1 new items were stored by another program under the same identifiers")
        .arg(report.collisions);
  }
  switch (report.failureCode & 0xFF) {
    case SQLITE_FULL: return QStringLiteral("the disk is full");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: return QStringLiteral("the library cannot be written");
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return QStringLiteral("another program is writing to the library");
    case SQLITE_IOERR:
      return QStringLiteral("the disk reported an error (%1)").arg(QString::fromStdString(report.failure.value_or("")));
    default: return QString::fromStdString(report.failure.value_or("the write failed"));
  }
}

void CLibraryDataIo::Note(const LibraryFlushReport& report) {
  SaveState now;
  // A lock another program holds for a moment is no failure to speak of;
  // only one that lasts beyond the busy wait gets here at all.
  now.failing = report.failure.has_value() || report.damaged || report.collisions > 0;
  now.reason = now.failing ? DescribeWriteFailure(report) : QString();
  now.unsaved = report.unsaved;
  const bool told = now.failing != m_saveState.failing || now.reason != m_saveState.reason;
  m_saveState = now;
  if (told && m_saveStateListener) m_saveStateListener(m_saveState);
}

SaveState CLibraryDataIo::CurrentSaveState() const {
  SaveState state = m_saveState;
  if (m_sync) state.unsaved = m_sync->PendingCount();
  return state;
}

bool CLibraryDataIo::Save(const CFeedsManager&, const std::string&, const CValidatorStore*) {
  if (!m_sync) return false;
  // The fetch state given to Load goes with the rows. One attempt: what
  // cannot be written now is the exit dialog's to wait for, with the
  // window answering.
  const LibraryFlushReport report = m_sync->FlushAndWait(std::chrono::milliseconds(0));
  Note(report);
  return !report.failure && !report.pending;
}

void CLibraryDataIo::SaveInBackground(const CFeedsManager&, const std::string&, const CValidatorStore*,
                                      std::function<void(bool written)> done) {
  const LibraryFlushReport report = FlushNow();
  if (done) done(m_sync != nullptr && !report.failure);
}

void CLibraryDataIo::WaitForSaves() {}

SaveResult CLibraryDataIo::ExportDataFile(const CFeedsManager& model, const std::string& path) {
  if (!m_library) return IDataFileIo::ExportDataFile(model, path);
  // Everything the window changed is in the library first; when it cannot
  // be written there, the model in memory is the whole of it.
  if (m_sync) {
    const LibraryFlushReport report = m_sync->FlushAndWait(std::chrono::milliseconds(0));
    Note(report);
    if (report.pending || report.failure) return ExportModel(model, path);
  }
  // A connection of the worker's own reads the library while the window
  // goes on.
  SaveResult result;
  RunInBackground(
      QApplication::activeWindow(), QStringLiteral("Export data file"),
      [](uint64_t done, uint64_t total) {
        return total == 0 ? QStringLiteral("Exporting the library\u2026")
                          : QStringLiteral("Exporting the library: %L1 of %L2 articles").arg(done).arg(total);
      },
      false,
      [&](WorkProgress& progress) {
        CLibrary reader;
        LibraryOpenOptions options;
        options.readOnly = true;
        if (!reader.Open(m_path, options).opened) {
          result.error = "the library cannot be read";
          return;
        }
        const ImportProgress counted = [&progress](uint64_t done, uint64_t total) {
          progress.done = done;
          progress.total = total;
        };
        result = reader.ExportDataFile(path, &counted);
      });
  return result;
}

}  // namespace qb
