// The long texts of an article (its description and source text), and the
// store the feeds manager reads them from when they are not in memory.
//
// With a library, the article records in memory carry everything the panes
// need except these two texts, which stay in the database and are read when
// an article is shown, searched or exported (CFeedsManager::ArticleTexts).
// With a classic data file the records keep their texts, and the same
// accessor serves them from the records.
#pragma once

#include <string>
#include <vector>

#include "base/SharedText.h"
#include "model/RSSObject.h"

namespace qb {

struct CArticleTexts {
  SharedText description;  // HTML as the feed delivered it
  SharedText sourceText;   // its item's markup (older files: the whole document)
  bool operator==(const CArticleTexts&) const = default;
};

class IArticleStore {
 public:
  // The texts of a stored article. False when the article is not stored or
  // cannot be read; `out` is then left empty.
  virtual bool ReadArticleTexts(ObjectId article, CArticleTexts& out) = 0;

  // Appends the stored articles matching every word of `words` (the query's
  // words as SearchWords gives them; at least one) in any order. False when
  // the search could not be run.
  virtual bool MatchArticles(const std::vector<std::u16string>& words, IdList& out) = 0;

 protected:
  ~IArticleStore() = default;
};

}  // namespace qb
