// The user's data for the commands that work on it (update, add, list,
// opml-import, opml-export). Without --data it is the library the window
// uses ($XDG_DATA_HOME/Velmorant/Quillbend/Library.sqlite), safely while the
// window runs on it: the command writes only the rows it changed, in one
// transaction at its end, after reading what others committed meanwhile.
// On the first start the classic data file beside it is imported and left
// as it was. With --data FILE it is that classic data file, loaded and
// saved exactly as the program always did.
//
// The fetch state (validators, back-off, Retry-After) is kept in the
// library, written in the same transaction as the rows the command
// changed; the first start takes over what was kept beside the data file.
// With --data it is kept beside that file in the cache folder, stamped with
// it, and its validators trusted only while nothing else has written it.
#pragma once

#include <memory>
#include <string>

#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "tools/Cli.h"
#include "update/Validators.h"

namespace qb::cli {

// The library a command works on, from its load to its save.
class CUserDataSession {
 public:
  CLibrary library;
  LibraryLoadResult load;
  std::unique_ptr<CLibraryLink> sync;
  ~CUserDataSession() {
    sync.reset();
    library.Close();
  }
};

// Whether the commands work on the library (no --data).
inline bool UsesLibrary(const CliContext& ctx) { return !ctx.dataFile; }

// --data FILE, or the library's path.
std::string UserDataPath(const CliContext& ctx);

// Seeds the identifier generator with the time, as the program does at
// start, and loads the data; the model keeps what was read. The command
// will save: a data file that cannot be read whole is put aside first, and
// what happened is reported on ctx.err; a library that cannot be written
// is refused. False when the command must not go on.
// With `fetchState`, the fetch state saved with the data is loaded into it;
// its validators count only when the data is exactly what they were saved
// with.
bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path,
                  CValidatorStore* fetchState = nullptr);

// The same for a command that only reads (list, opml-export): a data file
// that cannot be read whole is left untouched, and the message says so. A
// library is read without its articles: the model holds the tree, and the
// counts of each node in Counts.
bool ReadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path);

// Writes what the command changed: the program's safe save of a data file,
// or the changed rows of the library (waiting while the window writes). A
// failure is reported on ctx.err. With `fetchState`, what changed of the
// state goes with the rows into the library; beside a data file, the
// state of the sources still in the model is written, stamped with it.
bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path,
                  CValidatorStore* fetchState = nullptr);

// Writes the fetch state of a data file that was not written again.
void SaveFetchState(const std::string& path, const CValidatorStore& fetchState);

// The line a command prints for a source it fetched: "title: comms status".
std::string SourceLine(const CFeedSource& source);
std::string SourceLine(const std::u16string& title, const std::u16string& commsStatus);

}  // namespace qb::cli
