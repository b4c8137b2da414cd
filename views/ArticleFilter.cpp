#include "views/ArticleFilter.h"

#include "base/SearchText.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

void CArticleFilter::SetText(const QString& text) {
  m_text = text;
  m_query = FromQString(text);
  m_words = SearchWords(m_query);
}

bool CArticleFilter::PassesUnread(const CFeed& article,
                                  const std::unordered_set<ObjectId>& keptWhenRead) const {
  return !m_unreadOnly || !article.m_read || keptWhenRead.count(article.m_id) != 0;
}

IdList CArticleFilter::Find(const CFeedsManager& model, ObjectId node,
                            const std::unordered_set<ObjectId>& keptWhenRead) const {
  // Without words the search lets every article of the node through, in
  // the same order.
  IdList found = model.SearchArticles(HasWords() ? std::u16string_view(m_query) : std::u16string_view(), node);
  if (!m_unreadOnly) return found;
  size_t kept = 0;
  for (ObjectId id : found) {
    const CFeed* article = model.GetFeed(id);
    if (article != nullptr && PassesUnread(*article, keptWhenRead)) found[kept++] = id;
  }
  found.resize(kept);
  return found;
}

void CArticleFilter::Apply(const CFeedsManager& model, IdList& articles,
                           const std::unordered_set<ObjectId>& keptWhenRead) const {
  size_t kept = 0;
  for (ObjectId id : articles) {
    const CFeed* article = model.GetFeed(id);
    if (article == nullptr || !PassesUnread(*article, keptWhenRead)) continue;
    if (HasWords() &&
        !WordsMatch(ArticleWords(article->m_title, article->m_channel, model.ArticleTexts(id).description.str()),
                    m_words)) {
      continue;
    }
    articles[kept++] = id;
  }
  articles.resize(kept);
}

bool CArticleFilter::HasUnreadMatch(const CFeedsManager& model, ObjectId sourceId) const {
  const CFeedSource* source = model.GetFeedSource(sourceId);
  if (source == nullptr) return false;
  bool anyUnread = false;
  for (ObjectId id : source->m_articles) {
    const CFeed* article = model.GetFeed(id);
    if (article != nullptr && !article->m_read) anyUnread = true;
  }
  // Most sources have nothing unread: no search for them.
  if (!anyUnread || !HasWords()) return anyUnread;
  for (ObjectId id : model.SearchArticles(m_query, sourceId)) {
    const CFeed* article = model.GetFeed(id);
    if (article != nullptr && !article->m_read) return true;
  }
  return false;
}

}  // namespace qb
