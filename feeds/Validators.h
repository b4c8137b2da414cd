// What the update engine remembers about updating each source, beyond the
// data file (SourceUpdateState): how the last attempt went, the validators
// of the last document applied whole (ETag, Last-Modified) for conditional
// requests, the run of failed attempts for the back-off, and a server's
// Retry-After.
//
// Validators can hide articles: a 304 answer skips the document, so they
// are only worth anything when the model holds what that document brought.
// They are therefore kept outside the data file, in a cache file stamped
// with the data file it was saved with (device, inode, size, modification
// and change times), and trusted only while the data file is exactly that
// one. A data file replaced, restored from a backup, written by another copy
// of the program or edited elsewhere voids every validator, so the next pass
// fetches whole documents; how the last attempts went is kept. State is
// keyed by source identifier and URL: a source whose address changed starts
// afresh.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>

#include "feeds/SourceUpdateState.h"
#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;
struct SaveResult;

// A server's Retry-After is honoured for at most this long, so that a
// mistaken or hostile answer cannot shut a source out for good.
inline constexpr int64_t kMaxRetryAfterSeconds = 24 * 60 * 60;


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

// The time a Retry-After value (seconds or an HTTP date) names, received at
// `now`, at most kMaxRetryAfterSeconds ahead; 0 when it names nothing later
// than `now`.
int64_t ParseRetryAfter(std::string_view value, int64_t now);

class CValidatorStore {
 public:
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
  void ForgetValidators(ObjectId source);
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

  // --- persistence.

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

  bool operator==(const CValidatorStore&) const = default;

  // For a save of the data file at `dataPath` (called with the result of
  // SaveDataFile): once the file is written, stamps the state with it and
  // writes the state beside it. A failed save writes nothing; the cache
  // then still names the old file.
  static std::function<void(const SaveResult&)> WriteAfterSave(CValidatorStore state,
                                                               std::string dataPath);

 private:
  std::map<ObjectId, SourceUpdateState> m_states;
  DataFileFingerprint m_dataFile;
};

}  // namespace qb
