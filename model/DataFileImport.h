// File > "Import data file...": the feeds of a classic data file taken into
// the user's model, beside what it holds. Nothing the model held changes:
// the file's groups come in as new root groups (with everything below
// them, each source with its articles, read flags, seen-history and
// settings), except the sources whose address the model already
// subscribes to, which are left out with their articles (a group left
// with nothing of what it held is left out too). The records get
// new identifiers. Everything goes through the model's operations as one
// change, so the library stores it like any other.
//
// Bad input: a file that cannot be read whole (damaged, cut short, from a
// newer version, absent) imports nothing; the outcome says why. The file
// is only read.
#pragma once

#include <cstddef>
#include <string>

#include "model/DataFile.h"

namespace qb {

class CFeedsManager;

struct DataFileImportResult {
  LoadOutcome load;  // how the file read
  bool imported = false;
  size_t groups = 0, sources = 0, articles = 0;
  size_t skippedSources = 0;  // already subscribed: left out
  // One sentence for the user: what came in, or why nothing did.
  std::u16string Summary(const std::string& path) const;
};

// Reads `path` and adds its feeds to `model` as above.
DataFileImportResult ImportDataFileInto(CFeedsManager& model, const std::string& path);

// The same from a model already read (the part after the read).
DataFileImportResult MergeModelInto(CFeedsManager& model, const CFeedsManager& from);

}  // namespace qb
