// Feed interpretation: turns a parsed RSS 2.0 or Atom document into candidate
// articles and merges those the source has never delivered into its article
// list, through the source's seen-history. Sets the source's comms status and,
// on success, its last update tick. Never throws and never fails other than
// by the error status.
#pragma once

#include <cstdint>
#include <string_view>

#include "feeds/XMLParser.h"
#include "model/FeedSource.h"
#include "model/SharedText.h"

namespace qb {

class CFeed;
class CFeedsManager;

inline constexpr char16_t kCommsStatusOk[] = u"Comms status: OK";
inline constexpr char16_t kCommsStatusNotUnderstood[] =
    u"Comms status: ERROR - unable to understand feed contents";
inline constexpr char16_t kUntitled[] = u"<Untitled>";

// Fields shown to the user (channel and feed titles, an item's title, link,
// description and date text, an entry's title, content and date text: its
// "published", or its "updated" when that gives no text) come from the
// first child named exactly so and stay empty without one; items and entries
// are the children named exactly "item" and "entry". Keys are made
// with the name-order lookup (FindChild) they have always been made with, so
// the seen-histories of existing data files keep matching.
//
// Picks RSS ("rss") or Atom ("feed") among the document node's children and
// interprets it. `text` is the whole downloaded document, the one `document`
// was parsed from; each new article keeps its own item's or entry's markup
// from it as its source text (from the start tag through the end tag that
// closed it, or through the end of the document when nothing closed it).
// `tick` is the tick count taken when the update began. True when at least
// one new article was added.
bool InterpretDocument(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       const CXMLNode& document, uint32_t tick);

// Every item of every channel, in document order; channel titles are joined
// with " / " for the auto-name.
bool InterpretRss(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                  const CXMLNode& rss, uint32_t tick);

// Every entry; each article's link is the feed's rel="self" link.
bool InterpretAtom(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                   const CXMLNode& feed, uint32_t tick);

// Completes a candidate ("<Untitled>", the title@link key, the parsed date)
// and appends it to the source when its key is not in the seen-history,
// giving it `sourceText` (its item's markup) and recording `now` as the time
// its key was first seen. False when the source has delivered it before: the
// caller then deletes the candidate. Keys in `protectedKeys` (the keys of the
// whole document being merged) are not evicted from the history to make room.
bool MergeArticle(CFeedSource& source, std::u16string_view sourceText, CFeed& article,
                  const CDateTime& now, const KeySet* protectedKeys = nullptr);

}  // namespace qb
