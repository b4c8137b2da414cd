#include "feeds/Interpret.h"

#include <new>
#include <string>
#include <vector>

#include "feeds/PubDate.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/Text.h"

namespace qb {
namespace {

std::u16string TextOfChild(const CXMLNode& node, std::u16string_view name) {
  const CXMLNode* child = node.FindChild(name);
  return child != nullptr ? std::u16string(child->Text()) : std::u16string();
}

// The key MergeArticle gives a candidate with these fields.
std::u16string EffectiveKey(std::u16string key, const std::u16string& title, const std::u16string& link) {
  if (!key.empty()) return key;
  return (title.empty() ? std::u16string(kUntitled) : title) + u"@" + link;
}

CFeed* NewCandidate(CFeedsManager& manager) {
  try {
    return manager.NewFeed();
  } catch (const std::bad_alloc&) {
    return nullptr;  // out of memory: the item is skipped
  }
}

void AppendOrDiscard(CFeedsManager& manager, CFeedSource& source, const SharedText& text, CFeed& article,
                     const KeySet& protectedKeys, bool& result) {
  const CDateTime now = CDateTime::FromTime(manager.Clock().CurrentTime());
  if (MergeArticle(source, text, article, now, &protectedKeys)) {
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
  for (const CXMLNode* c = rss.FindChild(u"channel"); c != nullptr; c = rss.FindNextChild(u"channel")) {
    std::u16string title = Trim(TextOfChild(*c, u"title"));
    if (!title.empty()) {
      if (!joined.empty()) joined += u" / ";
      joined += title;
    }
    for (const CXMLNode* i = c->FindChild(u"item"); i != nullptr; i = c->FindNextChild(u"item")) {
      items.push_back({i, channelTitles.size()});
    }
    channelTitles.push_back(std::move(title));
  }

  // The keys of the whole document stay in the history while it is merged;
  // otherwise a feed of more than 500 items would evict its own first keys
  // and add those items again at every update.
  KeySet protectedKeys;
  for (const Item& it : items) {
    protectedKeys.insert(EffectiveKey(TextOfChild(*it.node, u"guid"), TextOfChild(*it.node, u"title"),
                                      TextOfChild(*it.node, u"link")));
  }

  bool result = false;
  for (const Item& it : items) {
    CFeed* a = NewCandidate(manager);
    if (a == nullptr) continue;
    a->m_channel = channelTitles[it.channel];
    a->m_title = TextOfChild(*it.node, u"title");
    a->m_link = TextOfChild(*it.node, u"link");
    a->m_description = TextOfChild(*it.node, u"description");
    a->m_dateText = TextOfChild(*it.node, u"pubDate");
    a->m_key = TextOfChild(*it.node, u"guid");
    AppendOrDiscard(manager, source, text, *a, protectedKeys, result);
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
  const std::u16string title = Trim(TextOfChild(feed, u"title"));
  std::u16string selfLink;
  for (const CXMLNode* l = feed.FindChild(u"link"); l != nullptr; l = feed.FindNextChild(u"link")) {
    if (l->GetAttribute(u"rel") == u"self") {
      selfLink = l->GetAttribute(u"href");
      break;  // the first self link decides, even with an empty href
    }
  }

  std::vector<const CXMLNode*> entries;
  for (const CXMLNode* e = feed.FindChild(u"entry"); e != nullptr; e = feed.FindNextChild(u"entry")) {
    entries.push_back(e);
  }
  KeySet protectedKeys;
  for (const CXMLNode* e : entries) {
    protectedKeys.insert(EffectiveKey(TextOfChild(*e, u"guid"), TextOfChild(*e, u"title"), selfLink));
  }

  bool result = false;
  for (const CXMLNode* e : entries) {
    CFeed* a = NewCandidate(manager);
    if (a == nullptr) continue;
    a->m_channel = title;
    a->m_title = TextOfChild(*e, u"title");
    // Every article carries the feed's self link; links inside entries are
    // not read.
    a->m_link = selfLink;
    a->m_description = TextOfChild(*e, u"content");
    a->m_dateText = TextOfChild(*e, u"published");
    // Atom has no "guid": the lookup finds the entry's "id" whenever no
    // child name sorts between the two.
    a->m_key = TextOfChild(*e, u"guid");
    AppendOrDiscard(manager, source, text, *a, protectedKeys, result);
  }

  ApplyAutoName(source, title);
  source.m_lastUpdateTick = tick;
  source.m_commsStatus = kCommsStatusOk;
  return result;
}

bool MergeArticle(CFeedSource& source, const SharedText& text, CFeed& article,
                  const CDateTime& now, const KeySet* protectedKeys) {
  article.m_sourceText = text;
  if (article.m_title.empty()) article.m_title = kUntitled;
  if (article.m_key.empty()) article.m_key = article.m_title + u"@" + article.m_link;
  ParsePubDate(article);
  if (source.IsInHistory(article.m_key)) return false;
  source.m_articles.push_back(article.m_id);
  source.AddToHistory(article, now, protectedKeys);
  return true;
}

}  // namespace qb
