// The user's data file for the commands that work on it (update, add, list):
// found, loaded and saved exactly as the program does, with the fetch state
// (validators, back-off, Retry-After) kept beside it in the cache folder.
#pragma once

#include <string>

#include "feeds/Validators.h"
#include "model/FeedsManager.h"
#include "tools/Cli.h"

namespace qb::cli {

// --data FILE, or the program's own data file.
std::string UserDataPath(const CliContext& ctx);

// Seeds the identifier generator with the time, as the program does at
// start, and loads the file; the model keeps what was read. The command
// will save: a file that cannot be read whole is put aside first, and what
// happened to it is reported on ctx.err. False when the command must not go
// on: nothing could be read, or the file could not be put aside and a save
// would replace it.
// With `fetchState`, the data file's fetch state is loaded into it; its
// validators count only when the file loaded whole and is the very file
// they were saved with.
bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path,
                  CValidatorStore* fetchState = nullptr);

// The same for a command that only reads (list, opml-export): a file that
// cannot be read whole is left untouched, and the message says so.
bool ReadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path);

// The program's safe save; a failure is reported on ctx.err. With
// `fetchState`, its sources still in the model are written beside the new
// file, stamped with it.
bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path,
                  const CValidatorStore* fetchState = nullptr);

// Writes the fetch state of an unchanged data file (one not saved again).
void SaveFetchState(const std::string& path, const CValidatorStore& fetchState);

// The line a command prints for a source it fetched: "title: comms status".
std::string SourceLine(const CFeedSource& source);
std::string SourceLine(const std::u16string& title, const std::u16string& commsStatus);

}  // namespace qb::cli
