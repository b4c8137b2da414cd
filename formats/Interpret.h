// Feed interpretation: reads a parsed feed (RSS 2.0 and 0.9x, RSS 1.0, Atom
// 1.0 and 0.3, JSON Feed 1.0 and 1.1) into candidate articles, as values
// (model/FeedReading.h), on any thread and without the model; the model
// merges those the source has never delivered into its article list
// (CFeedsManager::MergeArticles), through the source's seen-history. Never
// throws; a document that holds no feed is read as not understood.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/SharedText.h"
#include "formats/ParsedFeed.h"
#include "formats/XMLParser.h"
#include "model/FeedReading.h"
#include "model/FeedSource.h"

namespace qb {

class CFeed;
class CFeedsManager;

inline constexpr char16_t kUntitled[] = u"<Untitled>";

// Keys never change: the seen-histories of existing data files hold keys
// made by the name-order lookup (FindChild) from the parser's texts, and a
// key made otherwise would bring deleted articles back or double them. An
// RSS item's and an Atom entry's key is the text of the child FindChild
// finds for "guid" (for an entry its "id" whenever no name sorts between the
// two), else title + "@" + link, with the title (and an RSS item's link)
// found the same way, "<Untitled>" standing for an empty title and an Atom
// entry taking the feed's rel="self" link. The formats added since have keys
// of their own: an RSS 1.0 item its rdf:about, a JSON Feed item its id, each
// else title@link. A key that repeats inside one document (items without a
// guid sharing one link, say) is kept by the first of them; each later one
// is merged under a key of its own, the shared key followed by "#" and a
// digest of its title, link, date and body (the candidate's ownKey), and only
// an item equal to an earlier one in all of these is that item again (see
// CFeedsManager::MergeArticles).
//
// What is shown is read apart from the keys, as the feed means it:
// - Texts are decoded from the markup as written: every character reference
//   and the five predefined entities, once (the parser's own texts decode
//   only four entities and stay as they are for the keys).
// - A title is kept as HTML (the tree and the list show it as text, see
//   TitleText): an RSS title as written (else its "dc:title"), an Atom or
//   JSON Feed title of type text escaped where its text would otherwise
//   read as markup; line breaks, tabs and runs of spaces in it are one
//   space, and none at either end.
// - The link: an RSS item's "link", else a "guid" that is a permalink: a web
//   address, or a relative reference (any with isPermaLink="true", one
//   starting with "/" without it); an Atom entry's first link whose rel is
//   "alternate" or absent, else the feed's self link; a JSON Feed item's
//   "url", else its "external_url". Relative links are resolved against the
//   xml:base in scope and the source's address.
// - The body, as HTML: RSS "content:encoded" when it has text, else
//   "description", else "dc:description"; Atom "content", else "summary",
//   else the entry's "media:description" (YouTube), by their type (html as
//   is, xhtml as the markup inside the div that wraps it all, text escaped;
//   Atom 0.3 mode="escaped" is html); JSON Feed "content_html", else
//   "content_text" or "summary" escaped. A body of white space counts as
//   none.
// - The date: RSS "pubDate" (or "pubdate"), else "dc:date"; Atom
//   "published", else "updated", "issued", "modified", "created"; JSON Feed
//   "date_published", else "date_modified".
// - An element whose markup holds further elements (an unescaped "<p>" in a
//   description) gives that markup as written, when the element was closed.
//   Comments and processing instructions in an element are no part of its
//   text.
// - The extension elements ("content:", "dc:", "media:", "itunes:",
//   "atom:") are found by their namespace, whatever prefix the document
//   binds to it.
//
// Each new article keeps its own item's markup as its source text, from the
// start tag through the end tag that closed it (or through the end of the
// document when nothing closed it); a JSON Feed item keeps its own JSON
// object as it stands in the document.

// Reads a parsed feed: RSS ("rss"), Atom ("feed") or RSS 1.0 ("rdf:RDF")
// among the document node's children, looking inside a leading
// "<!DOCTYPE ...>" (which the parser makes an element holding the rest of
// the document); or a JSON Feed. `sourceUrl` is the address it was fetched
// from, which relative links are resolved against. Touches no model.
FeedReading ReadFeed(const CParsedFeed& feed, std::u16string_view sourceUrl);

// The same for an XML document parsed from `text` (the whole downloaded
// document, the one `document` was parsed from).
FeedReading ReadDocument(const SharedText& text, const CXMLNode& document, std::u16string_view sourceUrl);

// Whether the parsed text holds a feed that ReadFeed reads (its root
// element, or a JSON Feed); touches no model.
bool HoldsFeed(const CParsedFeed& feed);

// Both steps at once on the model's thread: reads the document for the
// source and merges it (`tick`: the tick count taken when the update
// began). True when at least one new article was added.
bool InterpretFeed(CFeedsManager& manager, const CFeedSource& source, const CParsedFeed& feed, uint32_t tick);
bool InterpretDocument(CFeedsManager& manager, const CFeedSource& source, const SharedText& text,
                       const CXMLNode& document, uint32_t tick);

}  // namespace qb
