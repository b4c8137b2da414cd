// The core operations the shell drives: the data file and the update cycle,
// each behind one small interface. The document gets the data file's reader
// and writer, the commands the update; tests pass doubles.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "feeds/Discovery.h"
#include "feeds/UpdateEngine.h"
#include "model/DataFile.h"
#include "model/Executor.h"
#include "model/RSSObject.h"
#include "views/IMainFrame.h"

namespace qb {

class CFeedsManager;

// What a load tells the user: an empty message means nothing to show.
struct DataFileLoadReport {
  QString message;
  bool warning = false;  // newer version: exclamation mark; corrupt: error icon
  QString preservedCopy;  // where the unreadable file was kept, if it was
  // The model is the file's whole content (or there was no file).
  bool loadedWhole = false;
  // For the status line, once (the data file was imported into the library).
  QString statusNote;
};

// The data file in the per-user data folder; its folder is created.
std::string DataFilePath();

// Whether what the window changed reaches the disk.
struct SaveState {
  // The latest write failed (a full disk, a damaged library): changes wait
  // in memory and the write is tried again.
  bool failing = false;
  QString reason;     // for the user: "the disk is full"
  size_t unsaved = 0;  // changes not yet on the disk
  bool operator==(const SaveState&) const = default;
};

class IDataFileIo {
 public:
  // Reads the file into the model; what the user is to be told. With
  // `fetchState`, the fetch state saved with the data is loaded into it; its
  // validators count only when the data is exactly what they were saved
  // with.
  virtual DataFileLoadReport Load(CFeedsManager& model, const std::string& path,
                                  CValidatorStore* fetchState = nullptr) = 0;
  // Writes the model now, on the calling thread (at exit). True when the
  // whole file was written and replaced the old one; `fetchState`, when
  // given, is then written beside it, stamped with the new file.
  virtual bool Save(const CFeedsManager& model, const std::string& path,
                    const CValidatorStore* fetchState = nullptr) = 0;
  // Writes what changed without making the window wait for the disk where
  // the store allows it (the library: the changed rows, on its writer
  // thread). `done` runs on the window's thread with whether the latest
  // write succeeded.
  virtual void SaveInBackground(const CFeedsManager& model, const std::string& path,
                                const CValidatorStore* fetchState,
                                std::function<void(bool written)> done) = 0;
  // Returns once every background save handed over has been written.
  virtual void WaitForSaves() = 0;
  // The model is about to go: nothing of it is used from now on.
  virtual void Detach(const CFeedsManager& model) { (void)model; }
  // Writes the user's feeds to `path` in the classic data file format, the
  // safe way (the old file stays whole until the new one is complete).
  virtual SaveResult ExportDataFile(const CFeedsManager& model, const std::string& path);
  // The same from the model in memory, with what is not yet saved (the
  // way out when the store cannot be written).
  SaveResult ExportModel(const CFeedsManager& model, const std::string& path);

  // --- a store that writes in the background (the library). A classic
  // file is written whole at Save: it has nothing pending.

  // Hands what is pending to the writer now; never waits.
  virtual void FlushSoon() {}
  virtual SaveState CurrentSaveState() const { return {}; }
  // Told on the window's thread whenever `failing` or the reason changes.
  virtual void SetSaveStateListener(std::function<void(const SaveState&)> listener) { (void)listener; }

 protected:
  ~IDataFileIo() = default;
};

// A classic data file as the window's store (tests; the program keeps the
// library, app/LibraryDataIo.h): the core's safe load and save, the whole
// file on this thread each time.
class CDataFileIo final : public IDataFileIo {
 public:
  CDataFileIo();
  ~CDataFileIo();
  CDataFileIo(const CDataFileIo&) = delete;
  CDataFileIo& operator=(const CDataFileIo&) = delete;

  DataFileLoadReport Load(CFeedsManager& model, const std::string& path,
                          CValidatorStore* fetchState = nullptr) override;
  bool Save(const CFeedsManager& model, const std::string& path,
            const CValidatorStore* fetchState = nullptr) override;
  // Written at once: a classic file is written whole.
  void SaveInBackground(const CFeedsManager& model, const std::string& path,
                        const CValidatorStore* fetchState,
                        std::function<void(bool written)> done) override;
  void WaitForSaves() override;
};

// The one way the window updates sources: "Update all feeds", the automatic
// update, "Update this feed" and the first fetch of a new source all come
// here. Every call returns at once: the documents are fetched in the
// background, and the model is changed only on the window's thread, from
// its event loop, one source at a time in tree order. How each source and
// each pass went is told to the listener.
class IFeedUpdater {
 public:
  struct Listener {
    // A source has been applied (also when its fetch failed); the model
    // may have changed.
    std::function<void(const SourceReport& report)> sourceApplied;
    // The pass is over; the updater is idle again.
    std::function<void(const PassReport& report)> passFinished;
    // Another process stored the update state of these sources (a command's
    // fetch failed or succeeded); how they show may have changed.
    std::function<void(const IdList& sources)> statesStored;
  };

  // The model every pass updates, set before anything else; another model
  // replaces it (a pass on the old one is abandoned), null detaches.
  virtual void Attach(CFeedsManager* model) = 0;
  virtual void SetListener(Listener listener) = 0;

  // Starts a pass over the due sources (every source when forced). While a
  // pass runs, a forced request adds the sources not yet in it and an
  // unforced one changes nothing. False when nothing was started or joined.
  virtual bool UpdateAll(bool force) = 0;
  // The same for the sources named.
  virtual bool UpdateSources(const IdList& sources, bool force) = 0;
  // The first update of a source just subscribed (forced), from the
  // document the add-feed search fetched from `fetchedUrl`, so that the
  // server is not asked twice; a document for another address is ignored.
  virtual bool UpdateSourceFrom(ObjectId source, const std::u16string& fetchedUrl,
                                const DownloadResult& document) = 0;
  // A search for the feed behind an address (the add-feed dialog), on the
  // same downloads as the updates, answering on the window's thread.
  virtual std::unique_ptr<CFeedDiscovery> NewDiscovery() = 0;
  virtual bool Busy() const = 0;
  // How the source's last update went in this run.
  virtual SourceUpdateState StateOf(ObjectId source) const = 0;
  // Sources were deleted: a pass must not wait for them.
  virtual void SourcesRemoved() = 0;
  // The source's articles changed outside a pass (its history was
  // cleared): its next fetch asks for the whole document.
  virtual void ForgetSource(ObjectId source) = 0;
  // Abandons a pass in flight (exit): transfers stop within a second, what
  // was applied stays.
  virtual void Cancel() = 0;
  // Validators, back-off and Retry-After of the sources, kept with the
  // data (in the library, or beside a classic data file); null when this
  // updater keeps none.
  virtual CValidatorStore* FetchState() = 0;

 protected:
  ~IFeedUpdater() = default;
};

}  // namespace qb
