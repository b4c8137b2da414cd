// What the filter above the article list lets through: the articles whose
// title, channel or description text hold every word typed, each word as
// the beginning of a word there (case folded, markup dropped: the rule of
// base/SearchText.h), and, when asked, only unread ones. The words are
// looked up through the model's search, which asks the article store's
// full-text index for stored articles and reads the others in memory, so
// a keystroke costs one query, not a pass over every text.
//
// The filter looks within one node (the tree's selection) or, with "All
// articles", in the whole library whatever is selected.
#pragma once

#include <QString>
#include <string>
#include <unordered_set>
#include <vector>

#include "model/RSSObject.h"

namespace qb {

class CFeed;
class CFeedsManager;

class CArticleFilter {
 public:
  // The words to look for; empty (or only white space and punctuation)
  // lets every article through.
  void SetText(const QString& text);
  const QString& Text() const { return m_text; }
  void SetUnreadOnly(bool on) { m_unreadOnly = on; }
  bool UnreadOnly() const { return m_unreadOnly; }
  // Looks in the whole library instead of the node shown.
  void SetAllArticles(bool on) { m_allArticles = on; }
  bool AllArticles() const { return m_allArticles; }
  // Whether it lets fewer than the node's articles through, or looks
  // beyond the node.
  bool IsActive() const { return m_unreadOnly || m_allArticles || HasWords(); }
  // Whether it looks at the texts at all (not only at the read flags).
  bool HasWords() const { return !m_words.empty(); }

  // The articles of `node` (0: the whole library) that pass, newest first
  // (articles without a valid date last). An article in `keptWhenRead`
  // passes the unread test when read too.
  IdList Find(const CFeedsManager& model, ObjectId node,
              const std::unordered_set<ObjectId>& keptWhenRead = {}) const;
  // Drops from `articles` (in place, keeping the order) every one that does
  // not pass: for a few articles just added, whose texts are read one by one.
  void Apply(const CFeedsManager& model, IdList& articles,
             const std::unordered_set<ObjectId>& keptWhenRead = {}) const;
  // Whether the source holds an unread article whose texts hold the words.
  bool HasUnreadMatch(const CFeedsManager& model, ObjectId source) const;

 private:
  bool PassesUnread(const CFeed& article, const std::unordered_set<ObjectId>& keptWhenRead) const;

  QString m_text;
  std::u16string m_query;
  std::vector<std::u16string> m_words;  // as SearchWords gives them
  bool m_unreadOnly = false;
  bool m_allArticles = false;
};

}  // namespace qb
