// What the filter above the article list lets through: articles whose
// title, channel name or description text contains every word typed,
// ignoring case and markup, and, when asked, only unread ones.
//
// Matching a hundred thousand articles has to keep up with typing, so each
// article's searchable text is worked out once (tags dropped, entities
// decoded, case folded, as UTF-8) and kept until the filter is cleared.
// Article texts never change once stored; an identifier that comes to name
// another record is noticed by the record's address.
#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/RSSObject.h"

namespace qb {

class CFeed;
class CFeedsManager;

// The readable text of an article's HTML: tags, comments and the contents
// of script and style elements dropped (each tag leaves a space), character
// references and the common named entities decoded, runs of white space
// made one space, no space at either end. Never fails; text that is not
// markup comes back as it is, white space aside.
std::u16string MarkupToText(std::u16string_view html);

class CArticleFilter {
 public:
  // The words to look for (split at white space); empty lets every article
  // through.
  void SetText(const QString& text);
  const QString& Text() const { return m_text; }
  void SetUnreadOnly(bool on) { m_unreadOnly = on; }
  bool UnreadOnly() const { return m_unreadOnly; }
  // Whether it lets fewer than all articles through.
  bool IsActive() const { return m_unreadOnly || !m_words.empty(); }
  // Whether it looks at the texts at all (not only at the read flags).
  bool HasWords() const { return !m_words.empty(); }

  // Whether the article passes: unread when asked, and every word within
  // its title, channel or description text.
  bool Matches(const CFeed& article) const;
  // The same without the unread test.
  bool MatchesText(const CFeed& article) const;

  // Drops from `articles` (in place, keeping the order) every one that does
  // not pass; an article in `keptWhenRead` passes when read too. The
  // articles looked up for one list are kept, so the next keystroke over
  // the same list costs one comparison of the lists and the searches.
  void Apply(const CFeedsManager& model, IdList& articles,
             const std::unordered_set<ObjectId>& keptWhenRead) const;

  // Forgets the texts worked out so far (the memory they take).
  void ClearCache() {
    m_cache.clear();
    m_preparedIds.clear();
    m_prepared.clear();
  }
  size_t CachedCount() const { return m_cache.size(); }
  // Works out the texts of articles[from, from + count) ahead of the search.
  void Prepare(const CFeedsManager& model, const IdList& articles, size_t from, size_t count) const;

  // The text Matches searches: the title and channel as the list shows
  // them and the description's text, one per line, case-folded, in UTF-8.
  static std::string SearchText(const CFeed& article);

 private:
  struct Entry {
    const CFeed* record = nullptr;
    std::string text;
  };
  const std::string& CachedText(const CFeed& article) const;
  bool WordsIn(std::string_view text) const;
  // One article of the last list Apply was given: its record, and its text
  // once the words asked for it.
  struct Prepared {
    const CFeed* record = nullptr;
    const std::string* text = nullptr;
  };

  QString m_text;
  std::vector<std::string> m_words;  // case-folded, UTF-8
  bool m_unreadOnly = false;
  // Node-based: a text stays where it is while others are added.
  mutable std::unordered_map<ObjectId, Entry> m_cache;
  mutable IdList m_preparedIds;
  mutable std::vector<Prepared> m_prepared;
};

}  // namespace qb
