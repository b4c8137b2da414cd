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
#include <memory>
#include <string>

#include "classic/DataFile.h"

namespace qb {

class CFeedsManager;

struct DataFileImportResult {
  LoadOutcome load;  // how the file read
  bool imported = false;
  size_t groups = 0, sources = 0, articles = 0;
  size_t skippedSources = 0;  // already subscribed: left out
  bool cancelled = false;     // stopped part-way: what came in before stays
  // One sentence for the user: what came in, or why nothing did.
  std::u16string Summary(const std::string& path) const;
};

// The same in steps, so that a window can take in a large file a few
// sources a turn of its event loop, with progress, and stop part-way: the
// groups come in when it is made, then each Step's sources (one change
// each), and Finish takes away the new groups left empty. What came in
// before a stop stays. `from` must outlive it.
class CDataFileMerge {
 public:
  CDataFileMerge(CFeedsManager& model, const CFeedsManager& from);
  ~CDataFileMerge();
  CDataFileMerge(const CDataFileMerge&) = delete;
  CDataFileMerge& operator=(const CDataFileMerge&) = delete;
  // At least one source, then more until about `articles` articles came
  // in; false when none is left.
  bool Step(size_t articles);
  DataFileImportResult Finish();
  size_t ArticlesDone() const;
  size_t ArticlesTotal() const;

 private:
  struct State;
  CFeedsManager& m_model;
  std::unique_ptr<State> m_state;
};

// Reads `path` and adds its feeds to `model` as above.
DataFileImportResult ImportDataFileInto(CFeedsManager& model, const std::string& path);

// The same from a model already read (the part after the read).
DataFileImportResult MergeModelInto(CFeedsManager& model, const CFeedsManager& from);

}  // namespace qb
