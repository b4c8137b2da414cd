// The window's store behind one small interface: the document loads,
// saves and exports through it (the library, app/LibraryDataIo.h; a
// classic data file, below; tests pass doubles).
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "base/Executor.h"
#include "classic/DataFile.h"
#include "library/ReaderModule.h"
#include "model/RSSObject.h"
#include "update/Validators.h"
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

  // Where the reader view keeps what it extracted; null when the store
  // keeps nothing of it (a classic data file: the view works, and fetches
  // each time).
  virtual IReaderStore* ReaderStore() { return nullptr; }

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

}  // namespace qb
