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
// start, and loads the file (a file that fails to load is copied aside, and
// the model keeps what was read). A failed load is reported on ctx.err.
// False when the command must not go on: the file exists but could not be
// read, or could not be copied aside, and a save would replace it.
bool LoadUserData(CliContext& ctx, CFeedsManager& manager, const std::string& path);

// The program's safe save; a failure is reported on ctx.err.
bool SaveUserData(CliContext& ctx, const CFeedsManager& manager, const std::string& path);

// The line a command prints for a source it fetched: "title: comms status".
std::string SourceLine(const CFeedSource& source);

}  // namespace qb::cli
