// What an update read from one feed document, as plain values: made by the
// feed interpretation (formats/Interpret.h) on whichever thread parsed the
// document, with no access to the model, and merged into a source by
// CFeedsManager::MergeArticles on the model's thread.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/SharedText.h"
#include "model/Feed.h"

namespace qb {

// A source's comms status after an update.
inline constexpr char16_t kCommsStatusOk[] = u"Comms status: OK";
inline constexpr char16_t kCommsStatusNotUnderstood[] =
    u"Comms status: ERROR - unable to understand feed contents";

// One item or entry of the document.
struct ArticleCandidate {
  // Complete as shown (a title, "<Untitled>" at least, the parsed date);
  // m_key is the key the document gives it, which a merge may replace by
  // `ownKey` when another item of the document has the same one.
  ArticleFields fields;
  std::u16string description;
  // Set when its key repeats inside the document: the shared key followed
  // by "#" and a digest of what tells it apart from the others.
  std::u16string ownKey;
  // Its own markup in FeedReading::text.
  size_t markupBegin = 0;
  size_t markupEnd = 0;
};

struct FeedReading {
  // The document held a feed that was read; when false the source gets the
  // status "unable to understand feed contents".
  bool understood = false;
  // The channel titles joined with " / ": the name of a source that takes
  // its name from the feed.
  std::u16string title;
  SharedText text;  // the document; the candidates' markup lies in it
  std::vector<ArticleCandidate> articles;

  std::u16string_view MarkupOf(const ArticleCandidate& a) const {
    const std::u16string_view s = text.str();
    const size_t begin = std::min(a.markupBegin, s.size());
    return s.substr(begin, std::clamp(a.markupEnd, begin, s.size()) - begin);
  }
};

}  // namespace qb
