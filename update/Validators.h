// What the update engine remembers about updating each source, beyond the
// data file (SourceUpdateState): how the last attempt went, the validators
// of the last document applied whole (ETag, Last-Modified) for conditional
// requests, the run of failed attempts for the back-off, and a server's
// Retry-After.
//
// Validators can hide articles: a 304 answer skips the document, so they
// are only worth anything when the model holds what that document brought.
// With the library (library/Library.h) the state is stored in it, each
// change in the same transaction as the rows of the turn that made it
// (the library's update-state module, library/UpdateStateModule.h), so a state and the articles
// its fetch applied are on the disk together or not at all. With a classic
// data file it is kept outside the file, in a cache file stamped with the
// data file it was saved with (device, inode, size, modification and change
// times), and trusted only while the data file is exactly that one. A data
// file replaced, restored from a backup, written by another copy of the
// program or edited elsewhere voids every validator, so the next pass
// fetches whole documents; how the last attempts went is kept. State is
// keyed by source identifier and URL: a source whose address changed starts
// afresh.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/RSSObject.h"
#include "update/SourceUpdateState.h"

namespace qb {

class CFeedsManager;
struct SaveResult;


// The identity of the data file as the file system reports it. Two stats of
// one unchanged file are equal; any write, rename over it or copy changes at
// least the change time, which users cannot set.
struct DataFileFingerprint {
  bool present = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtimeSec = 0, mtimeNsec = 0;
  int64_t ctimeSec = 0, ctimeNsec = 0;
  bool operator==(const DataFileFingerprint&) const = default;

  // The file at `path`, links followed; not present when it cannot be stat'ed.
  static DataFileFingerprint Of(const std::string& path);
};

// How long after its latest failure a source waits before an unforced pass
// tries it again: 1, 2, 4 ... minutes, never more than its refresh interval.
int64_t BackoffSeconds(uint32_t failures, int32_t refreshMinutes);

class CValidatorStore final : public IUpdateStateStore {
 public:
  CValidatorStore() = default;
  // The states, the stamp and what changed; never the hooks, which belong
  // to the store they were set on.
  CValidatorStore(const CValidatorStore& o) : m_states(o.m_states), m_dataFile(o.m_dataFile), m_changed(o.m_changed) {}
  CValidatorStore& operator=(const CValidatorStore& o) {
    m_states = o.m_states;
    m_dataFile = o.m_dataFile;
    m_changed = o.m_changed;
    return *this;
  }
  ~CValidatorStore() = default;

  // The state of the source when it is for this URL; null otherwise.
  const SourceUpdateState* Find(ObjectId source, std::u16string_view url) const;
  // The state of the source for this URL, created empty (and any state for
  // another URL dropped) when there is none.
  SourceUpdateState& Get(ObjectId source, const std::u16string& url);
  // Drops everything about the source.
  void Forget(ObjectId source);
  // Drops the source's validators, so that its next fetch asks for the
  // whole document: when its history is cleared (a 304 would otherwise keep
  // its articles away).
  void ForgetValidators(ObjectId source) override;
  // Drops the state of every source not in `sources`.
  void Retain(const std::unordered_set<ObjectId>& sources);
  // A copy with the sources the model still holds, to save with the data.
  CValidatorStore CopyFor(const CFeedsManager& manager) const;
  size_t Size() const { return m_states.size(); }

  // Whether the source may be fetched at `now`: a Retry-After in force holds
  // back every fetch; the back-off holds back unforced ones. `until` gets
  // the time the hold ends.
  enum class Hold { None, Backoff, RetryAfter };
  Hold HoldOf(ObjectId source, std::u16string_view url, int32_t refreshMinutes, bool force,
              int64_t now, int64_t* until = nullptr) const;

  // --- in the library.

  // Replaces the state with what the library holds (CLibrary::
  // ReadUpdateStates); nothing counts as changed.
  void Replace(const std::vector<LibraryUpdateState>& stored);
  // IUpdateStateStore: every source whose state Get, Forget,
  // ForgetValidators or Retain may have changed since the last take.
  void TakeChangedStates(std::vector<LibraryUpdateState>& put, IdList& dropped) override;
  void ApplyStoredStates(const std::vector<LibraryUpdateState>& put, const IdList& dropped) override;
  // Runs when a state changes and none had since the last take (the window
  // schedules the turn's write from it); empty for nothing. Not copied.
  void SetChangeHook(std::function<void()> hook) { m_changeHook = std::move(hook); }
  // Runs after ApplyStoredStates with the sources whose state another
  // process stored or dropped (the window redraws their marks); empty for
  // nothing. Not copied.
  void SetStoredHook(std::function<void(const IdList& sources)> hook) { m_storedHook = std::move(hook); }

  // For the library's first start, which imports the data file at
  // `dataFile`: the state kept in that file's cache (read now, with the
  // file's identity taken now), to be stored with the import. Validators
  // come along only when the cache was saved with this very file and the
  // import read it whole, unchanged and with nothing to repair (a repair
  // can take articles from a source); otherwise the failures, warnings and
  // Retry-After come without them, and the import says why. Empty when
  // there is no cache to take over.
  static ImportUpdateStateHook CarryIntoLibrary(const std::string& dataFile);

  // --- persistence beside a classic data file.

  // $XDG_CACHE_HOME/Velmorant/Quillbend/fetch-state-<hash of the data
  // file's absolute path> ($HOME/.cache when XDG_CACHE_HOME is unset or
  // not absolute), so every data file has its own.
  static std::string CachePathFor(const std::string& dataFilePath);

  // Replaces the state with the cache file's. `dataFile` is the data file as
  // it was loaded (`loadedWhole` false when the load failed part-way): unless
  // it is the very file the cache was saved with, every validator is
  // voided; the back-off and Retry-After stay. A missing or damaged cache
  // gives an empty store. Either way the store is then stamped with
  // `dataFile`, or with no file when it did not load whole.
  void Load(const std::string& cachePath, const DataFileFingerprint& dataFile, bool loadedWhole);

  // The data file the state belongs to; set after each save of that file.
  void SetDataFile(const DataFileFingerprint& dataFile) { m_dataFile = dataFile; }
  const DataFileFingerprint& DataFile() const { return m_dataFile; }

  // Writes the cache file safely (a new file, flushed, renamed over the
  // old); its folder is created. False when it could not be written, which
  // only costs the validators.
  bool Save(const std::string& cachePath) const;

  // The cache file's text, and reading it back (false, store untouched,
  // for anything damaged).
  std::string Serialize() const;
  bool Deserialize(std::string_view text);

  // The states and the data file they belong to.
  bool operator==(const CValidatorStore& o) const { return m_states == o.m_states && m_dataFile == o.m_dataFile; }

  // For a save of the data file at `dataPath` (called with the result of
  // SaveDataFile): once the file is written, stamps the state with it and
  // writes the state beside it. A failed save writes nothing; the cache
  // then still names the old file.
  static std::function<void(const SaveResult&)> WriteAfterSave(CValidatorStore state,
                                                               std::string dataPath);

 private:
  // The cache file's state, validators and stamp as saved; false (and an
  // empty store) for a missing or damaged file.
  bool ReadFile(const std::string& cachePath);
  void Changed(ObjectId source);

  std::map<ObjectId, SourceUpdateState> m_states;
  DataFileFingerprint m_dataFile;
  std::set<ObjectId> m_changed;
  std::function<void()> m_changeHook;
  std::function<void(const IdList&)> m_storedHook;
};

}  // namespace qb
