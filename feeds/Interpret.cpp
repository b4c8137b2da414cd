#include "feeds/Interpret.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "feeds/PubDate.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/Text.h"

namespace qb {
namespace {

// The text of the first child named exactly `name`; empty when there is
// none. Every field that is shown is read this way.
std::u16string FieldText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChildExact(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// The text of the first child whose name is not less than `name` (FindChild):
// the lookup the keys have always been made with.
std::u16string KeyLookupText(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChild(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// An item's or entry's key, made exactly as it always was, because the
// seen-histories in the data files hold keys made this way and a changed key
// would bring deleted articles back: the "guid" found by FindChild (for an
// Atom entry that is its "id" whenever no name sorts between the two), else
// title + "@" + link with the title (and an RSS item's link) also found by
// FindChild, "<Untitled>" standing for an empty title. `atomLink` is the
// Atom feed's self link, null for an RSS item.
std::u16string ItemKey(const CXMLNode& item, const std::u16string* atomLink) {
  std::u16string key = KeyLookupText(item, u"guid");
  if (!key.empty()) return key;
  std::u16string title = KeyLookupText(item, u"title");
  if (title.empty()) title = kUntitled;
  return title + u"@" + (atomLink != nullptr ? *atomLink : KeyLookupText(item, u"link"));
}

CFeed* NewCandidate(CFeedsManager& manager) {
  try {
    return manager.NewFeed();
  } catch (const std::bad_alloc&) {
    return nullptr;  // out of memory: the item is skipped
  }
}

// The item's or entry's own markup as it stands in the document. The node
// comes from parsing `text`; offsets beyond it are cut to it.
std::u16string_view ItemMarkup(const SharedText& text, const CXMLNode& item) {
  const std::u16string_view s = text.str();
  const size_t begin = std::min(item.MarkupBegin(), s.size());
  const size_t end = std::clamp(item.MarkupEnd(), begin, s.size());
  return s.substr(begin, end - begin);
}

void AppendOrDiscard(CFeedsManager& manager, CFeedSource& source, std::u16string_view markup, CFeed& article,
                     const KeySet& protectedKeys, bool& result) {
  const CDateTime now = CDateTime::FromTime(manager.Clock().CurrentTime());
  if (MergeArticle(source, markup, article, now, &protectedKeys)) {
    result = true;
  } else {
    manager.DeleteObject(article.m_id);
  }
}

void ApplyAutoName(CFeedSource& source, const std::u16string& joined) {
  if (source.m_autoName && !joined.empty()) {
    source.m_title = joined;
    source.m_autoName = false;
  }
}

}  // namespace

bool InterpretDocument(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       const CXMLNode& document, uint32_t tick) {
  const CXMLNode* e = document.FindChild(u"rss");
  if (e == nullptr) e = document.FindChild(u"feed");
  if (e != nullptr && e->Name() == u"rss") return InterpretRss(manager, source, text, *e, tick);
  if (e != nullptr && e->Name() == u"feed") return InterpretAtom(manager, source, text, *e, tick);
  // Nothing, or only an element that sorts after the name asked for (such as
  // "rdf:RDF").
  source.m_commsStatus = kCommsStatusNotUnderstood;
  return false;
}

bool InterpretRss(CFeedsManager& manager, CFeedSource& source, const SharedText& text, const CXMLNode& rss,
                  uint32_t tick) {
  struct Item {
    const CXMLNode* node;
    size_t channel;
  };
  std::vector<std::u16string> channelTitles;
  std::vector<Item> items;
  std::u16string joined;
  // Exactly "channel": an rss element without one (items straight under it)
  // is not a feed this reads, rather than one named after its first item.
  for (const CXMLNode* c = rss.FindChildExact(u"channel"); c != nullptr; c = rss.FindNextChild(u"channel")) {
    std::u16string title = Trim(FieldText(*c, u"title"));
    if (!title.empty()) {
      if (!joined.empty()) joined += u" / ";
      joined += title;
    }
    for (const CXMLNode* i = c->FindChildExact(u"item"); i != nullptr; i = c->FindNextChild(u"item")) {
      items.push_back({i, channelTitles.size()});
    }
    channelTitles.push_back(std::move(title));
  }

  // The keys of the whole document stay in the history while it is merged;
  // otherwise a feed of more than 500 items would evict its own first keys
  // and add those items again at every update.
  std::vector<std::u16string> keys;
  keys.reserve(items.size());
  KeySet protectedKeys;
  for (const Item& it : items) {
    keys.push_back(ItemKey(*it.node, nullptr));
    protectedKeys.insert(keys.back());
  }
  protectedKeys.SetStamp(manager.NewKeySetStamp());

  bool result = false;
  for (size_t n = 0; n < items.size(); ++n) {
    const CXMLNode& item = *items[n].node;
    CFeed* a = NewCandidate(manager);
    if (a == nullptr) continue;
    a->m_channel = channelTitles[items[n].channel];
    a->m_title = FieldText(item, u"title");
    a->m_link = FieldText(item, u"link");
    a->m_description = FieldText(item, u"description");
    a->m_dateText = FieldText(item, u"pubDate");
    a->m_key = std::move(keys[n]);
    AppendOrDiscard(manager, source, ItemMarkup(text, item), *a, protectedKeys, result);
  }

  if (channelTitles.empty()) {
    source.m_commsStatus = kCommsStatusNotUnderstood;
    return result;
  }
  ApplyAutoName(source, joined);
  source.m_lastUpdateTick = tick;
  source.m_commsStatus = kCommsStatusOk;
  return result;
}

bool InterpretAtom(CFeedsManager& manager, CFeedSource& source, const SharedText& text, const CXMLNode& feed,
                   uint32_t tick) {
  const std::u16string title = Trim(FieldText(feed, u"title"));
  std::u16string selfLink;
  // FindChild as always: the self link is part of the entries' keys.
  for (const CXMLNode* l = feed.FindChild(u"link"); l != nullptr; l = feed.FindNextChild(u"link")) {
    if (l->GetAttribute(u"rel") == u"self") {
      selfLink = l->GetAttribute(u"href");
      break;  // the first self link decides, even with an empty href
    }
  }

  std::vector<const CXMLNode*> entries;
  for (const CXMLNode* e = feed.FindChildExact(u"entry"); e != nullptr; e = feed.FindNextChild(u"entry")) {
    entries.push_back(e);
  }
  std::vector<std::u16string> keys;
  keys.reserve(entries.size());
  KeySet protectedKeys;
  for (const CXMLNode* e : entries) {
    keys.push_back(ItemKey(*e, &selfLink));
    protectedKeys.insert(keys.back());
  }
  protectedKeys.SetStamp(manager.NewKeySetStamp());

  bool result = false;
  for (size_t n = 0; n < entries.size(); ++n) {
    const CXMLNode& entry = *entries[n];
    CFeed* a = NewCandidate(manager);
    if (a == nullptr) continue;
    a->m_channel = title;
    a->m_title = FieldText(entry, u"title");
    // Every article carries the feed's self link; links inside entries are
    // not read.
    a->m_link = selfLink;
    a->m_description = FieldText(entry, u"content");
    a->m_dateText = FieldText(entry, u"published");
    if (a->m_dateText.empty()) a->m_dateText = FieldText(entry, u"updated");
    a->m_key = std::move(keys[n]);
    AppendOrDiscard(manager, source, ItemMarkup(text, entry), *a, protectedKeys, result);
  }

  ApplyAutoName(source, title);
  source.m_lastUpdateTick = tick;
  source.m_commsStatus = kCommsStatusOk;
  return result;
}

bool MergeArticle(CFeedSource& source, std::u16string_view sourceText, CFeed& article,
                  const CDateTime& now, const KeySet* protectedKeys) {
  if (article.m_title.empty()) article.m_title = kUntitled;
  if (article.m_key.empty()) article.m_key = article.m_title + u"@" + article.m_link;
  ParsePubDate(article);
  if (source.IsInHistory(article.m_key)) return false;
  // Copied only for an article that is kept: an update that brings nothing
  // new copies nothing.
  article.m_sourceText = SharedText(std::u16string(sourceText));
  source.m_articles.push_back(article.m_id);
  source.AddToHistory(article, now, protectedKeys);
  return true;
}

}  // namespace qb
