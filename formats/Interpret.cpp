#include "formats/Interpret.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "base/WebAddress.h"
#include "formats/InterpretMarkup.h"
#include "formats/Markup.h"
#include "formats/PubDate.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"

namespace qb {

using namespace interpret;  // this file's own helpers

namespace {

// ---------------------------------------------------------------- keys

// The parser's text of the first child whose name is not less than `name`
// (FindChild): the lookup the keys have always been made with.
std::u16string KeyLookupText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChild(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// The parser's text of the first child named exactly `name`.
std::u16string ExactText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChildExact(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// An item's or entry's key, made exactly as it always was, because the
// seen-histories in the data files hold keys made this way and a changed key
// would bring deleted articles back: the "guid" found by FindChild (for an
// Atom entry that is its "id" whenever no name sorts between the two), else
// title + "@" + link with the title (and an RSS item's link) also found by
// FindChild, "<Untitled>" standing for an empty title. `atomLink` is the
// Atom feed's self link as written, null for an RSS item.
std::u16string ItemKey(const CXMLNode& item, const std::u16string* atomLink) {
  std::u16string key = KeyLookupText(item, u"guid");
  if (!key.empty()) return key;
  std::u16string title = KeyLookupText(item, u"title");
  if (title.empty()) title = kUntitled;
  return title + u"@" + (atomLink != nullptr ? *atomLink : KeyLookupText(item, u"link"));
}

std::u16string TitleAtLink(std::u16string title, std::u16string_view link) {
  if (title.empty()) title = kUntitled;
  title += u'@';
  title += link;
  return title;
}

// An RSS 1.0 item's key: its rdf:about, else title@link by the exact lookups.
std::u16string Rss1Key(const CXMLNode& item) {
  const std::u16string_view about = item.GetAttribute(u"rdf:about");
  if (!about.empty()) return std::u16string(about);
  return TitleAtLink(ExactText(item, u"title"), ExactText(item, u"link"));
}

// ---------------------------------------------------------------- merging

// The node's markup as written; empty for no node.
std::u16string_view NodeMarkup(std::u16string_view text, const CXMLNode* node) {
  if (node == nullptr) return {};
  const size_t begin = std::min(node->MarkupBegin(), text.size());
  return text.substr(begin, std::min(node->MarkupEnd(), text.size()) - begin);
}

// What tells apart items or entries that share a key: their title, link,
// date, body and media, wherever the feed put them.
constexpr std::u16string_view kRssItemIdentity[] = {
    u"title", u"link", u"pubDate", u"pubdate", u"dc:date", u"content:encoded", u"description", u"dc:title",
    u"dc:description", u"itunes:summary", u"media:group", u"media:title", u"media:description", u"media:content",
    u"enclosure"};
constexpr std::u16string_view kAtomEntryIdentity[] = {
    u"title", u"link", u"published", u"updated", u"content", u"summary",
    u"dc:title", u"media:group", u"media:title", u"media:description"};

// The markup of every child of these names (each name in the usual
// namespace prefixes or another bound to it), as written, one after the
// other: what tells apart items that share a key.
std::u16string ChildrenMarkup(std::u16string_view text, const CXMLNode& node, const Prefixes& ns,
                              std::span<const std::u16string_view> names) {
  std::u16string out;
  for (std::u16string_view name : names) {
    const CXMLNode* child = ns.Find(node, name);
    for (; child != nullptr; child = node.FindNextChild(child->Name())) {
      out += NodeMarkup(text, child);
      out += u'\uFFFF';  // a border no markup holds
    }
    out += u'\uFFFF';
  }
  return out;
}

// Candidate n's own key, for a key that repeats in the document: the
// shared key, "#" and a digest of what tells such items apart (64 bits of
// FNV-1a over the code units).
std::u16string OwnKey(std::u16string_view shared, std::u16string_view identity) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (char16_t c : identity) h = (h ^ c) * 0x100000001B3ull;
  std::u16string key(shared);
  key += u'#';
  for (int shift = 60; shift >= 0; shift -= 4) key += u"0123456789abcdef"[(h >> shift) & 0xF];
  return key;
}

// The candidates of a document, one per item in document order. `keys`
// holds each item's key; `fill(n, candidate)` reads the fields of item n and
// sets its markup span; `identity(n)` is what tells item n apart from others
// with its key, asked only for a key that repeats.
template <class Fill, class Identity>
void AddCandidates(FeedReading& reading, std::vector<std::u16string> keys, const Fill& fill,
                   const Identity& identity) {
  std::vector<bool> repeated(keys.size());
  {
    std::unordered_map<std::u16string_view, size_t> firstOf;
    firstOf.reserve(keys.size());
    for (size_t n = 0; n < keys.size(); ++n) {
      const auto [it, fresh] = firstOf.emplace(keys[n], n);
      if (!fresh) repeated[n] = repeated[it->second] = true;
    }
  }
  reading.articles.reserve(keys.size());
  for (size_t n = 0; n < keys.size(); ++n) {
    ArticleCandidate c;
    try {
      fill(n, c);
      if (repeated[n]) c.ownKey = OwnKey(keys[n], identity(n));
      c.fields.m_key = std::move(keys[n]);
    } catch (const std::bad_alloc&) {
      continue;  // out of memory: the item is skipped
    }
    if (c.fields.m_title.empty()) c.fields.m_title = kUntitled;
    if (c.fields.m_key.empty()) c.fields.m_key = c.fields.m_title + u"@" + c.fields.m_link;
    c.fields.m_date = ParsePubDateText(c.fields.m_dateText);
    reading.articles.push_back(std::move(c));
  }
}

void SetMarkup(ArticleCandidate& c, const CXMLNode& item) {
  c.markupBegin = item.MarkupBegin();
  c.markupEnd = item.MarkupEnd();
}

// What the root of a document is.
enum class RootKind { kNone, kRss, kAtom, kRss1 };

const CXMLNode* FindRdf(const CXMLNode& container) {
  for (const CXMLNode* child : container.Children()) {
    if (child->Name() == u"rdf:RDF" || child->Name().ends_with(u":RDF")) return child;
  }
  return nullptr;
}

// The feed element: "rss" or "feed" by the lookups they have always been
// found with (so every document read before is read the same way), else an
// "rdf:RDF". When the top level has none, the search goes on inside an
// element that the parser let run to the end of the document: a leading
// "<!DOCTYPE ...>" (each declaration of its internal subset likewise holds
// what follows it), or a comment without its "-->" that a ">" in it broke,
// inside which an end tag may have opened one more such element.
const CXMLNode* FindRoot(const CXMLNode& document, size_t textSize, RootKind& kind) {
  constexpr int kDepthLimit = 16;
  const CXMLNode* container = &document;
  bool inDeclaration = false;
  for (int depth = 0; depth <= kDepthLimit && container != nullptr; ++depth) {
    const CXMLNode* e = container->FindChild(u"rss");
    if (e == nullptr) e = container->FindChild(u"feed");
    if (e != nullptr && e->Name() == u"rss") {
      kind = RootKind::kRss;
      return e;
    }
    if (e != nullptr && e->Name() == u"feed") {
      kind = RootKind::kAtom;
      return e;
    }
    if (const CXMLNode* rdf = FindRdf(*container)) {
      kind = RootKind::kRss1;
      return rdf;
    }
    const CXMLNode* next = nullptr;
    for (const CXMLNode* child : container->Children()) {
      const bool runsToTheEnd = child->MarkupEnd() >= textSize && !child->Children().empty();
      if (runsToTheEnd && (inDeclaration || child->Name().starts_with(u"!"))) next = child;
    }
    if (next != nullptr && next->Name().starts_with(u"!")) inDeclaration = true;
    container = next;
  }
  kind = RootKind::kNone;
  return nullptr;
}

// Every item of every channel, in document order; channel titles are joined
// with " / " for the auto-name.
FeedReading ReadRss(const SharedText& text, const CXMLNode& rss, std::u16string_view sourceUrl) {
  struct Item {
    const CXMLNode* node;
    size_t channel;
    std::u16string base;
  };
  FeedReading reading;
  reading.text = text;
  const std::u16string_view s = text.str();
  const std::u16string rssBase = Rebase(std::u16string(sourceUrl), rss);
  const Prefixes ns(rss);
  std::vector<std::u16string> channelTitles;
  std::vector<Item> items;
  // Exactly "channel": an rss element without one (items straight under it)
  // is not a feed this reads, rather than one named after its first item.
  for (const CXMLNode* c = rss.FindChildExact(u"channel"); c != nullptr; c = rss.FindNextChild(u"channel")) {
    std::u16string title = ShownTitle(RssTitleOf(s, *c, ns));
    if (!title.empty()) {
      if (!reading.title.empty()) reading.title += u" / ";
      reading.title += title;
    }
    const std::u16string channelBase = Rebase(rssBase, *c);
    for (const CXMLNode* i = c->FindChildExact(u"item"); i != nullptr; i = c->FindNextChild(u"item")) {
      items.push_back({i, channelTitles.size(), Rebase(channelBase, *i)});
    }
    channelTitles.push_back(std::move(title));
  }
  reading.understood = !channelTitles.empty();

  std::vector<std::u16string> keys;
  keys.reserve(items.size());
  for (const Item& it : items) keys.push_back(ItemKey(*it.node, nullptr));
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        ArticleFields& a = c.fields;
        const CXMLNode& item = *items[n].node;
        const std::u16string& base = items[n].base;
        a.m_channel = channelTitles[items[n].channel];
        a.m_title = RssTitleOf(s, item, ns);
        if (TrimView(a.m_title).empty()) a.m_title = MediaTitle(s, item, ns);
        a.m_title = ShownTitle(a.m_title);
        if (const CXMLNode* link = item.FindChildExact(u"link")) {
          a.m_link = Resolve(Rebase(base, *link), DecodedText(s, link));
        }
        if (a.m_link.empty()) a.m_link = GuidLink(s, item, base);
        if (a.m_link.empty()) a.m_link = AtomLinkInRss(item, base);
        c.description = RssBodyOf(s, item, ns);
        // A podcast's episode may have only its iTunes summary, a video its
        // media description.
        if (TrimView(c.description).empty()) c.description = TextAsHtml(DecodedText(s, ns.Find(item, u"itunes:summary")));
        if (TrimView(c.description).empty()) c.description = MediaDescription(s, item, ns);
        FirstWithText(s, item, ns, {u"pubDate", u"pubdate", u"dc:date"}, a.m_dateText);
        SetMarkup(c, item);
      },
      [&](size_t n) { return ChildrenMarkup(s, *items[n].node, ns, kRssItemIdentity); });
  return reading;
}

// Every entry.
FeedReading ReadAtom(const SharedText& text, const CXMLNode& feed, std::u16string_view sourceUrl) {
  FeedReading reading;
  reading.text = text;
  reading.understood = true;
  const std::u16string_view s = text.str();
  reading.title = ShownTitle(AtomTitle(s, feed.FindChildExact(u"title")));
  const std::u16string feedBase = Rebase(std::u16string(sourceUrl), feed);
  const Prefixes ns(feed);
  std::u16string selfLink;
  std::u16string selfLinkShown;
  // FindChild as always: the self link is part of the entries' keys.
  for (const CXMLNode* l = feed.FindChild(u"link"); l != nullptr; l = feed.FindNextChild(u"link")) {
    if (l->GetAttribute(u"rel") == u"self") {
      selfLink = l->GetAttribute(u"href");
      selfLinkShown = Resolve(Rebase(feedBase, *l), DecodeXmlText(selfLink));
      break;  // the first self link decides, even with an empty href
    }
  }

  std::vector<const CXMLNode*> entries;
  for (const CXMLNode* e = feed.FindChildExact(u"entry"); e != nullptr; e = feed.FindNextChild(u"entry")) {
    entries.push_back(e);
  }
  std::vector<std::u16string> keys;
  keys.reserve(entries.size());
  for (const CXMLNode* e : entries) keys.push_back(ItemKey(*e, &selfLink));
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        ArticleFields& a = c.fields;
        const CXMLNode& entry = *entries[n];
        const std::u16string base = Rebase(feedBase, entry);
        a.m_channel = reading.title;
        a.m_title = AtomTitle(s, entry.FindChildExact(u"title"));
        if (TrimView(a.m_title).empty()) a.m_title = RssTitle(s, ns.Find(entry, u"dc:title"));
        if (TrimView(a.m_title).empty()) a.m_title = MediaTitle(s, entry, ns);
        a.m_title = ShownTitle(a.m_title);
        a.m_link = AtomEntryLink(entry, base);
        // An entry without a link of its own leads to the feed, as ever; in a
        // feed without a self link, to its id when that is a web address.
        if (a.m_link.empty()) a.m_link = selfLinkShown;
        if (a.m_link.empty()) {
          const std::u16string id = Trim(DecodedText(s, entry.FindChildExact(u"id")));
          if (IsWebAddress(id)) a.m_link = Resolve(base, id);
        }
        c.description = AtomHtml(s, entry.FindChildExact(u"content"));
        if (TrimView(c.description).empty()) c.description = AtomHtml(s, entry.FindChildExact(u"summary"));
        if (TrimView(c.description).empty()) c.description = HtmlOf(s, ns.Find(entry, u"dc:description"));
        if (TrimView(c.description).empty()) c.description = MediaDescription(s, entry, ns);
        FirstWithText(s, entry, ns, {u"published", u"updated", u"issued", u"modified", u"created"}, a.m_dateText);
        SetMarkup(c, entry);
      },
      [&](size_t n) { return ChildrenMarkup(s, *entries[n], ns, kAtomEntryIdentity); });
  return reading;
}

// The channel and the items of an "rdf:RDF" element.
FeedReading ReadRss1(const SharedText& text, const CXMLNode& rdf, std::u16string_view sourceUrl) {
  FeedReading reading;
  reading.text = text;
  const std::u16string_view s = text.str();
  const std::u16string rdfBase = Rebase(std::u16string(sourceUrl), rdf);
  const Prefixes ns(rdf);
  const CXMLNode* channel = rdf.FindChildExact(u"channel");
  if (channel != nullptr) reading.title = ShownTitle(RssTitleOf(s, *channel, ns));
  // Items are the channel's siblings; a few feeds put them inside it.
  std::vector<const CXMLNode*> items;
  for (const CXMLNode* i = rdf.FindChildExact(u"item"); i != nullptr; i = rdf.FindNextChild(u"item")) {
    items.push_back(i);
  }
  if (items.empty() && channel != nullptr) {
    for (const CXMLNode* i = channel->FindChildExact(u"item"); i != nullptr; i = channel->FindNextChild(u"item")) {
      items.push_back(i);
    }
  }
  reading.understood = channel != nullptr || !items.empty();
  if (!reading.understood) return reading;

  std::vector<std::u16string> keys;
  keys.reserve(items.size());
  for (const CXMLNode* i : items) keys.push_back(Rss1Key(*i));
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        ArticleFields& a = c.fields;
        const CXMLNode& item = *items[n];
        const std::u16string base = Rebase(rdfBase, item);
        a.m_channel = reading.title;
        a.m_title = ShownTitle(RssTitleOf(s, item, ns));
        if (const CXMLNode* link = item.FindChildExact(u"link")) {
          a.m_link = Resolve(Rebase(base, *link), DecodedText(s, link));
        }
        if (a.m_link.empty()) {
          const std::u16string about = Trim(AttributeText(item, u"rdf:about"));
          if (IsWebAddress(about)) a.m_link = Resolve(base, about);
        }
        c.description = RssBodyOf(s, item, ns);
        FirstWithText(s, item, ns, {u"dc:date", u"pubDate", u"pubdate"}, a.m_dateText);
        SetMarkup(c, item);
      },
      [&](size_t n) { return ChildrenMarkup(s, *items[n], ns, kRssItemIdentity); });
  return reading;
}

// Every item of a JSON Feed read from `text`.
FeedReading ReadJsonFeed(const SharedText& text, const JsonFeedDocument& feed, std::u16string_view sourceUrl) {
  FeedReading reading;
  reading.text = text;
  reading.understood = true;
  reading.title = TextAsTitle(ShownTitle(feed.title));
  const std::u16string base(sourceUrl);
  std::vector<std::u16string> keys;
  keys.reserve(feed.items.size());
  for (const JsonFeedItem& item : feed.items) {
    keys.push_back(!item.id.empty() ? item.id
                                    : TitleAtLink(item.title, !item.url.empty() ? item.url : item.externalUrl));
  }
  AddCandidates(
      reading, std::move(keys),
      [&](size_t n, ArticleCandidate& c) {
        const JsonFeedItem& item = feed.items[n];
        ArticleFields& a = c.fields;
        a.m_channel = reading.title;
        a.m_title = TextAsTitle(ShownTitle(item.title));
        a.m_link = Resolve(base, !TrimView(item.url).empty() ? item.url : item.externalUrl);
        if (!TrimView(item.contentHtml).empty()) {
          c.description = item.contentHtml;
        } else if (!TrimView(item.contentText).empty()) {
          c.description = TextAsHtml(item.contentText);
        } else {
          c.description = TextAsHtml(item.summary);
        }
        a.m_dateText = !TrimView(item.datePublished).empty() ? item.datePublished : item.dateModified;
        c.markupBegin = item.markupBegin;
        c.markupEnd = item.markupEnd;
      },
      [&](size_t n) {
        const JsonFeedItem& item = feed.items[n];
        std::u16string identity;
        for (const std::u16string* field : {&item.title, &item.url, &item.externalUrl, &item.datePublished,
                                            &item.dateModified, &item.contentHtml, &item.contentText, &item.summary}) {
          identity += *field;
          identity += u'\uFFFF';
        }
        return identity;
      });
  return reading;
}

}  // namespace

FeedReading ReadFeed(const CParsedFeed& feed, std::u16string_view sourceUrl) {
  if (const JsonFeedDocument* json = feed.JsonFeed()) return ReadJsonFeed(feed.Text(), *json, sourceUrl);
  return ReadDocument(feed.Text(), feed.Document(), sourceUrl);
}

FeedReading ReadDocument(const SharedText& text, const CXMLNode& document, std::u16string_view sourceUrl) {
  RootKind kind = RootKind::kNone;
  const CXMLNode* root = FindRoot(document, text.size(), kind);
  switch (kind) {
    case RootKind::kRss: return ReadRss(text, *root, sourceUrl);
    case RootKind::kAtom: return ReadAtom(text, *root, sourceUrl);
    case RootKind::kRss1: return ReadRss1(text, *root, sourceUrl);
    case RootKind::kNone: break;
  }
  return FeedReading{};
}

bool HoldsFeed(const CParsedFeed& feed) {
  RootKind kind = RootKind::kNone;
  return feed.JsonFeed() != nullptr || FindRoot(feed.Document(), feed.Text().size(), kind) != nullptr;
}

bool InterpretFeed(CFeedsManager& manager, const CFeedSource& source, const CParsedFeed& feed, uint32_t tick) {
  return manager.MergeArticles(source.m_id, ReadFeed(feed, source.m_url), tick);
}

bool InterpretDocument(CFeedsManager& manager, const CFeedSource& source, const SharedText& text,
                       const CXMLNode& document, uint32_t tick) {
  return manager.MergeArticles(source.m_id, ReadDocument(text, document, source.m_url), tick);
}

}  // namespace qb
