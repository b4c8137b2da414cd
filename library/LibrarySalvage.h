// What the library does with a file before it trusts it, and with one it
// cannot trust. Internal to the library (library/Library.cpp).
//
// A library is recognised by its application id (library/LibrarySchema.h),
// drawn when it is made, so that a write-ahead log left beside it by
// another library can be told apart from its own (SQLite replays any log
// it finds beside a database, whatever database wrote it). LookAt reads the file's header
// itself and looks through the log only with a connection that can
// neither write nor checkpoint, so nothing foreign reaches the file before
// it is judged.
//
// Salvage copies what can still be read of a damaged library into a new
// one: every table in key order, stepping over the rows and pages that
// cannot be read. The damaged file is only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qb::library {

struct FileLook {
  bool sqlite = false;     // the file begins with SQLite's header
  bool empty = false;      // no bytes at all (a library never made)
  uint32_t fileApplicationId = 0;  // as the file itself holds them
  int64_t fileVersion = 0;
  bool hasLog = false;     // a write-ahead log with frames lies beside it
  // As a connection sees the file with its log; `readable` false when it
  // could not be read at all (then `damage` says whether it is damaged,
  // and `error` why).
  bool readable = false;
  bool damage = false;
  std::string error;
  uint32_t applicationId = 0;
  int64_t version = 0;
  bool anyTables = false;
  bool ourTables = false;  // groups, sources and articles are there

  // The log beside the file was written by another database: it names
  // another library, or shows tables that are not a library's over a file
  // that is one.
  bool LogIsForeign() const;
  // The file (as its log leaves it) is a database, but not a library of
  // this program (version 0 with tables, or tables that are not ours, at a
  // version this program knows).
  bool NotALibrary() const;
};

FileLook LookAt(const std::string& path);

struct SalvageCounts {
  size_t groups = 0, sources = 0, articles = 0;
  size_t texts = 0;          // articles' texts
  size_t historyKeys = 0;
  size_t unreadable = 0;     // rows or runs of rows stepped over
};

// Copies what can be read of the library at `damaged` (with its log, if one
// is beside it under its name) into the new, empty file `into`, as a library
// of the current version with its search index. False, with `error` set,
// when `into` could not be written; a file from which nothing can be read
// gives a library with its one root group.
bool Salvage(const std::string& damaged, const std::string& into, SalvageCounts& counts, std::string* error);

}  // namespace qb::library
