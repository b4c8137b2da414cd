// The data file "Feeds": where it lives, reading it into the model and
// writing the model to it. Usable without a window; the window and
// quillbend-cli both go through these functions.
//
// A save never destroys the previous file: the model is written to a new
// file beside it ("Feeds.saving-XXXXXX", locked while it is written),
// flushed to disk, and only then renamed over the old one. A save killed
// part-way leaves its new file behind; the next load for a save, and every
// save, remove such files once no live process holds their lock.
// A file that fails to load is copied aside before anything can replace it,
// unless the caller only reads it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "classic/Archive.h"

namespace qb {

class CFeedsManager;
class IClock;

// $XDG_DATA_HOME/Velmorant/Quillbend/Feeds ($HOME/.local/share when
// XDG_DATA_HOME is unset or not absolute). Creates the folder, readable by the
// user only, when it is missing; a failure to create it is left for the load
// or save to meet.
std::string GetDataFilePath();

enum class LoadStatus { Ok, BadSchema, BadClass, EndOfFile, Generic };

// What a load did with a file it could not read whole.
enum class KeptAside {
  None,    // nothing to keep, or the caller only reads: the file is untouched
  Copied,  // copied to LoadOutcome::preservedCopy; the file itself is untouched
  Moved,   // it could not be copied, so it was renamed to preservedCopy
  Failed,  // neither worked: it is left untouched, and saves over it are refused
};

struct LoadOutcome {
  LoadStatus status = LoadStatus::Ok;
  // No file at the path: the model starts empty. Not a failure.
  bool fileAbsent = false;
  // The file holds no bytes, so nothing to lose: the model starts empty and
  // the next save replaces the file. Not a failure (status says EndOfFile).
  bool fileEmpty = false;
  // The file exists but could not be opened or read at all.
  bool openFailed = false;
  KeptAside keptAside = KeptAside::None;
  // Where an unreadable file was put aside (Copied or Moved), else empty.
  std::string preservedCopy;
  // The text the window shows, empty for none: kNewerVersionMessage for
  // BadSchema, kCorruptFileMessage for BadClass.
  std::u16string message;
  // The archive's own description of the failure, for diagnostics.
  std::string detail;

  // The file was read whole.
  bool ok() const { return status == LoadStatus::Ok && !openFailed; }
  // The model holds everything the file held: read whole, absent or empty.
  bool complete() const { return ok() || fileAbsent || fileEmpty; }
};

inline constexpr char16_t kNewerVersionMessage[] =
    u"The saved data file appears to be from a newer version of this program. Please ensure "
    u"you are using the latest version of this program.";
inline constexpr char16_t kCorruptFileMessage[] =
    u"The saved data file is corrupt and cannot be loaded.";

struct LoadOptions {
  // Only inspect the file (dump, list): an unreadable file is neither
  // copied nor moved, and no temporary file is removed. Otherwise the caller
  // is about to save: an unreadable file is put aside first
  // (Feeds.unreadable-YYYYMMDD-HHMMSS), and when that fails the manager
  // refuses saves over it; stale temporary files of killed saves go.
  bool readOnly = false;
};

// Reads the file into the model, replacing the records it holds, then runs
// FixUpAfterLoad in every case. A load that fails part-way keeps what was
// read whole, with every list cleared of identifiers the store does not hold.
// Group cycles are broken after every load (BreakGroupCycles).
LoadOutcome LoadDataFile(CFeedsManager& manager, const std::string& path,
                         const LoadOptions& options = {});

// The same on bytes in memory, with the same repairs; nothing is kept aside.
LoadOutcome LoadFromBytes(CFeedsManager& manager, std::string_view bytes);

// What happened to a file that could not be read whole, as one sentence for
// the command line, for example "PATH could not be read whole; it was copied
// to PATH.unreadable-20261208-164200 and will be replaced by the next save".
// Empty when the load was complete.
std::string UnreadableFileNote(const LoadOutcome& outcome, const std::string& path);

// Removes the temporary files that saves to `path` killed part-way left
// beside it: regular files of this user named like the file followed by
// ".saving-" and six letters or digits, that no process holds locked (a live
// save holds its lock until its file has replaced the data file). Nothing
// else is touched. Returns how many were removed.
int RemoveStaleSaves(const std::string& path);

// The same for temporary files named `target` + `infix` + six letters or
// digits (saves use ".saving-", the library's import ".importing-").
int RemoveStaleTemporaries(const std::string& target, const std::string& infix);
// A new temporary file beside `target` named the same way, locked (flock)
// for as long as the descriptor returned stays open; -1 on failure (errno
// set). A cleaner may remove the file between its creation and the lock;
// then another is made.
int CreateLockedTemporary(const std::string& target, const std::string& infix, std::string& temp);
// A free name beside `path` for a file put aside now:
// PATH.unreadable-YYYYMMDD-HHMMSS (with -2, -3 ... when taken).
std::string PreservedName(const std::string& path, const IClock& clock);
// The same with another word for why: PATH + infix + YYYYMMDD-HHMMSS.
std::string PreservedName(const std::string& path, const IClock& clock, const std::string& infix);
// Flushes the folder that holds `path`, so a rename in it reaches the disk.
void SyncFolderOf(const std::string& path);

// Reads the model from an archive, catching its failure; no repair. The
// building block of LoadDataFile, also used on bytes in memory.
LoadStatus LoadFromArchive(CFeedsManager& manager, CArchive& ar, std::string* detail = nullptr);

// After a failed load: removes from every list the identifiers that do not
// name a record of the list's kind, so that nothing names a record the store
// cannot find.
void DropDanglingIds(CFeedsManager& manager);

// Removes from the child-group lists every entry that would make a group its
// own descendant (only a damaged file holds one), so that the walks over the
// tree end. Everything else stays as it is.
void BreakGroupCycles(CFeedsManager& manager);

struct SaveResult {
  bool ok = false;
  std::string error;  // what went wrong, for diagnostics
  explicit operator bool() const { return ok; }
};

// Lets a test put a writer between the archive and the new file (for example
// one that fails after N bytes).
using WriterWrapper =
    std::function<std::unique_ptr<IArchiveWriter>(std::unique_ptr<IArchiveWriter> file)>;

// Writes the whole model to a new file beside `path`, flushes it to disk and
// renames it over `path`. On failure the previous file is left as it was and
// the new one removed. The file is readable by the user only. Refused when
// the manager was loaded from that file and could not put it aside
// (KeptAside::Failed).
SaveResult SaveDataFile(const CFeedsManager& manager, const std::string& path);
SaveResult SaveDataFile(const CFeedsManager& manager, const std::string& path,
                        const WriterWrapper& wrap);

// The safe save of any file in the data file's form: `write` fills a
// storing archive over a new file beside `path`, which is flushed and
// renamed over `path`; on failure the old file stays as it was. `write` may
// throw CArchiveException to abandon the file.
SaveResult WriteFileSafely(const std::string& path, const std::function<void(CArchive&)>& write,
                           const WriterWrapper& wrap = nullptr);

// The bytes of the data file for the model.
std::string SaveToBytes(const CFeedsManager& manager);

}  // namespace qb
