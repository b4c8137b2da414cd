// The data file "Feeds": where it lives, reading it into the model and
// writing the model to it. Usable without a window; the window and
// quillbend-cli both go through these functions.
//
// A save never destroys the previous file: the model is written to a new
// file beside it, flushed to disk, and only then renamed over the old one.
// A file that fails to load is copied aside before anything can replace it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "model/Archive.h"

namespace qb {

class CFeedsManager;

// $XDG_DATA_HOME/Velmorant/Quillbend/Feeds ($HOME/.local/share when
// XDG_DATA_HOME is unset or not absolute). Creates the folder, readable by the
// user only, when it is missing; a failure to create it is left for the load
// or save to meet.
std::string GetDataFilePath();

enum class LoadStatus { Ok, BadSchema, BadClass, EndOfFile, Generic };

// How the window tells the user about a failed load.
enum class LoadMessageKind { None, Exclamation, Stop };

struct LoadOutcome {
  LoadStatus status = LoadStatus::Ok;
  // No file at the path: the model starts empty. Not a failure.
  bool fileAbsent = false;
  // The file exists but could not be opened or read at all.
  bool openFailed = false;
  // Where an unreadable file was put aside (empty when nothing was kept).
  std::string preservedCopy;
  // The text to show, empty for none.
  std::u16string message;
  LoadMessageKind messageKind = LoadMessageKind::None;
  // The archive's own description of the failure, for diagnostics.
  std::string detail;

  bool ok() const { return status == LoadStatus::Ok && !openFailed; }
};

inline constexpr char16_t kNewerVersionMessage[] =
    u"The saved data file appears to be from a newer version of this program. Please ensure "
    u"you are using the latest version of this program.";
inline constexpr char16_t kCorruptFileMessage[] =
    u"The saved data file is corrupt and cannot be loaded.";

struct LoadOptions {
  // Copy a file that fails to load aside (Feeds.unreadable-YYYYMMDD-HHMMSS).
  // Off only for tools that merely inspect a file.
  bool preserveUnreadable = true;
};

// Reads the file into the model, replacing the records it holds, then runs
// FixUpAfterLoad in every case. A load that fails part-way keeps what was
// read whole, with every list cleared of identifiers the store does not hold.
// Group cycles are broken after every load (BreakGroupCycles).
LoadOutcome LoadDataFile(CFeedsManager& manager, const std::string& path,
                         const LoadOptions& options = {});

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
// the new one removed. The file is readable by the user only.
SaveResult SaveDataFile(const CFeedsManager& manager, const std::string& path);
SaveResult SaveDataFile(const CFeedsManager& manager, const std::string& path,
                        const WriterWrapper& wrap);

// The bytes of the data file for the model.
std::string SaveToBytes(const CFeedsManager& manager);

}  // namespace qb
