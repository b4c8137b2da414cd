#include "library/ReaderModule.h"

#include "base/SearchText.h"
#include "library/Library.h"
#include "library/Sqlite.h"

namespace qb {

void CReaderModule::Migrate(CSqliteDb& db, int from) const {
  if (from < 1) {
    // The index keeps its own copy of the words, so that the trigger can
    // take them out by the article alone, also when a foreign key's
    // cascade removes the row.
    db.Exec(R"sql(
CREATE TABLE reader(
  article INTEGER PRIMARY KEY REFERENCES articles(id) ON DELETE CASCADE,
  address BLOB NOT NULL,
  fetched INTEGER NOT NULL,
  title BLOB NOT NULL,
  byline BLOB NOT NULL,
  site BLOB NOT NULL,
  excerpt BLOB NOT NULL,
  language BLOB NOT NULL,
  direction BLOB NOT NULL,
  content BLOB NOT NULL);
CREATE VIRTUAL TABLE reader_search USING fts5(words, detail=none, tokenize='ascii', prefix='1 2');
CREATE TRIGGER reader_unindex AFTER DELETE ON reader BEGIN
  DELETE FROM reader_search WHERE rowid = old.article;
END;
)sql");
  }
}

void CReaderModule::Keep(ReaderText text, std::u16string articleTitle, std::u16string channel) {
  const ObjectId id = text.article;
  m_pending[id] = Kept{std::move(text), std::move(articleTitle), std::move(channel)};
}

bool CReaderModule::Find(CLibrary& library, ObjectId article, ReaderText& out) const {
  for (const Results* results : {&m_pending, &m_inFlight}) {
    if (auto it = results->find(article); it != results->end()) {
      out = it->second.text;
      return true;
    }
  }
  if (!library.IsOpen()) return false;
  try {
    CSqliteStatement& s = library.Reader().Statement(
        "SELECT address, fetched, title, byline, site, excerpt, language, direction, content FROM reader "
        "WHERE article = ?");
    s.Bind(1, int64_t{article});
    const bool found = s.Step();
    if (found) {
      out = ReaderText{};
      out.article = article;
      out.address = s.Text16(0);
      out.fetched = s.Int(1);
      out.title = s.Text16(2);
      out.byline = s.Text16(3);
      out.siteName = s.Text16(4);
      out.excerpt = s.Text16(5);
      out.language = s.Text16(6);
      out.direction = s.Text16(7);
      out.content = s.Text16(8);
    }
    s.Reset();
    return found;
  } catch (const CSqliteError&) {
    // A library without the table (read only, made by an older version)
    // holds no result.
    return false;
  }
}

ILibraryModule::Work CReaderModule::TakeWork() {
  if (m_pending.empty()) return {};
  m_inFlight = std::move(m_pending);
  m_pending.clear();
  return [results = m_inFlight](CModuleWrite& write) {
    CSqliteDb& db = write.Db();
    for (const auto& [id, kept] : results) {
      const ReaderText& t = kept.text;
      CSqliteStatement& gone = db.Statement("DELETE FROM reader WHERE article = ?");
      gone.Bind(1, int64_t{id});
      gone.Run();
      // An article removed meanwhile (here or by another process) keeps
      // nothing: the row needs its article.
      CSqliteStatement& put = db.Statement(
          "INSERT INTO reader(article, address, fetched, title, byline, site, excerpt, language, direction, content) "
          "SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10 WHERE EXISTS (SELECT 1 FROM articles WHERE id = ?1)");
      put.Bind(1, int64_t{id});
      put.Bind(2, std::u16string_view(t.address));
      put.Bind(3, t.fetched);
      put.Bind(4, std::u16string_view(t.title));
      put.Bind(5, std::u16string_view(t.byline));
      put.Bind(6, std::u16string_view(t.siteName));
      put.Bind(7, std::u16string_view(t.excerpt));
      put.Bind(8, std::u16string_view(t.language));
      put.Bind(9, std::u16string_view(t.direction));
      put.Bind(10, std::u16string_view(t.content));
      put.Run();
      if (db.Changes() > 0) {
        CSqliteStatement& index = db.Statement("INSERT INTO reader_search(rowid, words) VALUES(?, ?)");
        index.Bind(1, int64_t{id});
        index.BindText(2, IndexText(ArticleWords(kept.articleTitle + u' ' + t.title + u' ' + t.byline + u' ' + t.siteName,
                                                 kept.channel, t.content)));
        index.Run();
      }
      write.Logged(id);
    }
  };
}

void CReaderModule::WorkDone(bool committed) {
  if (!committed) {
    // Written again with the next batch, unless kept anew meanwhile.
    for (auto& [id, kept] : m_inFlight) m_pending.try_emplace(id, std::move(kept));
  }
  m_inFlight.clear();
}

void CReaderModule::ChangedElsewhere(CLibrary& library, const IdList& ids, bool everything) {
  (void)library, (void)ids, (void)everything;
}

}  // namespace qb
