// The per-user folders the program keeps its files in, read from the XDG
// variables with their usual fallbacks, and the two path helpers every
// writer of those files needs.
#pragma once

#include <string>

namespace qb {

// $XDG_DATA_HOME, else ~/.local/share; no trailing slash.
std::string UserDataFolder();
// $XDG_CACHE_HOME, else ~/.cache; no trailing slash.
std::string UserCacheFolder();
// A relative XDG value is ignored, as the XDG rules say; the home folder is
// $HOME, else the password database's entry.

// `base` + "/Velmorant/Quillbend": the program's folder inside a user folder.
std::string ProgramFolderIn(const std::string& base);

// Creates the folder and its missing parents, each readable by the user
// only; stops quietly at the first that cannot be made (the write that
// follows reports it).
void MakeFolders(const std::string& dir);

// The folder part of a path: "." for a bare name, "/" for a file at the root.
std::string FolderOf(const std::string& path);

}  // namespace qb
