// The user's data file for the commands that work on it (update, add, list):
// found, loaded and saved exactly as the program does.
#pragma once

#include <string>

#include "model/FeedsManager.h"
#include "tools/Cli.h"

namespace qb::cli {

// --data FILE, or the program's own data file.
std::string UserDataPath(const CliContext& ctx);

// Seeds the identifier generator with the time, as the program does at
// start, and loads the file; the model keeps what was read. A file that
// cannot be read whole is reported on ctx.err with what happened to it: a
// command that will save (`willSave`) puts it aside first, one that only
// reads leaves it untouched. False when the command must not go on: nothing
// could be read, or the file could not be put aside and a save would
// replace it.
bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path,
                  bool willSave = true);

// The program's safe save; a failure is reported on ctx.err.
bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path);

// The line a command prints for a source it fetched: "title: comms status".
std::string SourceLine(const CFeedSource& source);

}  // namespace qb::cli
