// The generated library the benchmarks measure: sources of articles under
// groups of the root group "All Sources", every article with its own text
// of pseudo-words (some far more common than others, as in real text) and
// its own item's markup, the last kHistoryLimit of each source's keys in
// its history, two articles in three read.
//
// The same seeds give the same model, whichever way it is stored: as a
// model in memory (BuildModel, for the classic data file) or written into a
// library the way update passes write it (WriteLibrary, when the data file
// and its model would not fit the machine's memory).
//
// QB_BENCH_SOURCES and QB_BENCH_ARTICLES scale the default shape (300
// sources of 200 articles, each text 2,000 characters: a data file of
// about 540 MB); QB_BENCH_SOURCES=5000 gives the million articles of a
// decade.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb::bench {

inline int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

struct LibraryShape {
  int sources = 300;
  int articlesPerSource = 200;
  // Each article's description, its paragraph markup included.
  size_t textLength = 2000;
  // Sources per group below the root group; 0 puts them all in it.
  int sourcesPerGroup = 30;
  // When not 0, every article of a source carries one shared feed document
  // of this many characters as its source text (as files saved before
  // articles kept only their own item), instead of its own item.
  size_t sharedFeedText = 0;

  size_t Articles() const { return static_cast<size_t>(sources) * static_cast<size_t>(articlesPerSource); }

  static LibraryShape FromEnvironment() {
    LibraryShape shape;
    shape.sources = EnvInt("QB_BENCH_SOURCES", shape.sources);
    shape.articlesPerSource = EnvInt("QB_BENCH_ARTICLES", shape.articlesPerSource);
    return shape;
  }
};

class Words {
 public:
  explicit Words(uint32_t seed) : m_state(seed) {
    static const char* syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "be", "da", "fe", "gu", "ha",
                                      "ji", "po", "qu", "re", "si", "tu", "wa", "an", "el", "in", "or", "us", "ar"};
    for (int i = 0; i < 20000; ++i) {
      std::u16string w;
      const int n = 1 + static_cast<int>(Next() % 4);
      for (int k = 0; k < n; ++k) {
        for (const char* c = syllables[Next() % 26]; *c != 0; ++c) w += static_cast<char16_t>(*c);
      }
      m_vocabulary.push_back(std::move(w));
    }
  }
  const std::u16string& Word() {
    // Zipf-like: small indexes much more often.
    const double u = static_cast<double>(Next() % 1000000) / 1000000.0;
    return m_vocabulary[static_cast<size_t>(u * u * u * static_cast<double>(m_vocabulary.size() - 1))];
  }
  std::u16string Text(size_t length) {
    std::u16string t;
    t.reserve(length + 16);
    while (t.size() < length) {
      if (!t.empty()) t += u' ';
      t += Word();
    }
    t.resize(length);
    return t;
  }
  uint32_t Next() {
    m_state = m_state * 1103515245u + 12345u;
    return m_state >> 8;
  }

 private:
  uint32_t m_state;
  std::vector<std::u16string> m_vocabulary;
};

inline std::u16string Number(uint64_t n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// One article as a feed delivers it; `serial` makes its link, key and date.
// Its markup is appended to `text`, the document it comes in; with
// `sharedFeed` the article keeps that whole text as its own instead (the
// classic data file's shape of a feed whose items share one text).
inline ArticleCandidate NewArticle(Words& words, int serial, size_t textLength, std::u16string& text) {
  ArticleCandidate c;
  ArticleFields& f = c.fields;
  f.m_channel = u"Channel " + words.Word();
  f.m_title = words.Word() + u" " + words.Word() + u" " + words.Word() + u" " + words.Word();
  f.m_link = u"https://news.example.org/articles/" + Number(static_cast<uint64_t>(serial));
  c.description = u"<p>" + words.Text(textLength > 7 ? textLength - 7 : 0) + u"</p>";
  f.m_dateText = u"Mon, 04 May 2009 10:20:30 GMT";
  f.m_date = CDateTime::FromTime(1'400'000'000 + static_cast<int64_t>(serial) * 600);
  f.m_key = f.m_link;
  f.m_read = serial % 3 != 0;
  c.markupBegin = text.size();
  text += u"<item><title>" + f.m_title + u"</title><link>" + f.m_link + u"</link><description>" + c.description +
          u"</description></item>";
  c.markupEnd = text.size();
  return c;
}

// The article records of a reading, written into the source directly, as a
// load leaves them (nothing reported), the last kHistoryLimit keys in its
// history.
inline void WriteArticles(CFeedsManager& m, CFeedSource& source, FeedReading& reading,
                          const SharedText* sharedFeed = nullptr) {
  const size_t n = reading.articles.size();
  for (size_t i = 0; i < n; ++i) {
    ArticleCandidate& c = reading.articles[i];
    CFeed* f = CModelWriter(m).NewFeed();
    static_cast<ArticleFields&>(*f) = c.fields;
    f->m_description = std::move(c.description);
    f->m_sourceText = sharedFeed != nullptr ? *sharedFeed : SharedText(std::u16string(reading.MarkupOf(c)));
    source.m_articles.push_back(f->m_id);
    if (i + kHistoryLimit >= n) source.AddToHistory(*f, CDateTime::FromTime(1'700'000'000 + static_cast<int64_t>(i)));
  }
}

// Walks the shape: `group(name)` makes a group below the root and returns
// its id, `source(group, index)` adds a source and its articles.
namespace detail {
inline std::u16string SourceUrl(Words& words, int s) {
  return u"https://feeds.example.org/" + words.Word() + u"/" + std::u16string(1, char16_t(u'a' + s % 26)) +
         Number(static_cast<uint64_t>(s));
}

inline SharedText FeedDocument(size_t length, uint32_t& noise) {
  std::u16string text(length, u' ');
  for (char16_t& c : text) {
    noise = noise * 1103515245u + 12345u;
    c = static_cast<char16_t>(u'a' + (noise >> 16) % 26);
  }
  return SharedText(std::move(text));
}

// The shape's sources in order, the same words for every caller: each one's
// group (made here, every `sourcesPerGroup` sources), address and title go
// to `add` with a filler that appends the source's articles and history to
// the source it is given. `add` returns false to stop. Returns the number of
// articles, 0 when stopped.
template <typename AddSource>
size_t WalkShape(CFeedsManager& m, const LibraryShape& shape, AddSource add) {
  Words words(7);
  uint32_t noise = 12345;
  int serial = 0;
  const ObjectId root = m.RootGroups()[0];
  ObjectId group = root;
  for (int s = 0; s < shape.sources; ++s) {
    if (shape.sourcesPerGroup > 0 && s % shape.sourcesPerGroup == 0) {
      group = m.AddGroup(root, u"Group " + words.Word())->m_id;
    }
    const std::u16string url = SourceUrl(words, s);
    const std::u16string title = u"Feed " + words.Word();
    SharedText feed;
    if (shape.sharedFeedText > 0) feed = FeedDocument(shape.sharedFeedText, noise);
    // The source's articles as its document brings them.
    auto read = [&] {
      FeedReading reading;
      reading.understood = true;
      std::u16string text;
      for (int a = 0; a < shape.articlesPerSource; ++a) {
        reading.articles.push_back(NewArticle(words, ++serial, shape.textLength, text));
      }
      reading.text = SharedText(std::move(text));
      return reading;
    };
    if (!add(group, url, title, read, shape.sharedFeedText > 0 ? &feed : nullptr)) return 0;
  }
  return static_cast<size_t>(serial);
}

}  // namespace detail

// Fills a model that holds only its root group ("All Sources", as
// FixUpAfterLoad leaves an empty model) with the shape, its fields set as a
// load leaves them; the caller runs RebuildIndexes if it needs the counts.
// Returns the number of articles.
inline size_t BuildModel(CFeedsManager& m, const LibraryShape& shape) {
  if (m.RootGroups().empty()) m.FixUpAfterLoad();
  return detail::WalkShape(m, shape, [&](ObjectId group, const std::u16string& url, const std::u16string& title,
                                         auto& read, const SharedText* sharedFeed) {
    CFeedSource* source = CModelWriter(m).Source(m.AddSource(group, url)->m_id);
    source->m_title = title;
    source->m_autoName = false;
    FeedReading reading = read();
    WriteArticles(m, *source, reading, sharedFeed);
    return true;
  });
}

// Writes the shape into a new library at `path`, each source's articles in
// one pass as updates write them, so memory never holds the texts of more
// than one source. The same library BuildModel gives. Returns the number of
// articles, 0 when the library could not be written.
inline size_t WriteLibrary(const std::string& path, const LibraryShape& shape) {
  CLibrary library;
  if (!library.Open(path).opened) return 0;
  CFeedsManager m;
  m.SeedRandom(1);
  const LibraryLoadResult load = library.Load(m);
  if (!load.ok) return 0;
  size_t written = 0;
  {
    CLibraryLink sync(m, library, &load);
    written = detail::WalkShape(m, shape, [&](ObjectId group, const std::u16string& url,
                                              const std::u16string& title, auto& read, const SharedText*) {
      const ObjectId source = m.AddSource(group, url)->m_id;
      m.Rename(source, title);
      m.MergeArticles(source, read(), 1);
      return !sync.FlushAndWait().failure;
    });
  }
  m.SetArticleStore(nullptr);
  return written;
}

}  // namespace qb::bench
