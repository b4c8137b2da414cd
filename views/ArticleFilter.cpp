#include "views/ArticleFilter.h"

#include <QRegularExpression>
#include <cstring>

#include "feeds/Markup.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/Text.h"
#include "views/ViewText.h"

namespace qb {

namespace {

bool IsSpace(char16_t c) { return c <= u' ' || c == 0x00A0; }

// Whether `s` at `pos` starts with `word` (lower-case ASCII), ignoring case.
bool StartsWithNoCase(std::u16string_view s, size_t pos, std::string_view word) {
  if (s.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (AsciiLower(s[pos + i]) != static_cast<char16_t>(word[i])) return false;
  return true;
}

// The entities feeds use most; anything else stays as written.
struct NamedEntity {
  const char* name;
  char16_t value;
};
constexpr NamedEntity kEntities[] = {
    {"amp", u'&'},       {"lt", u'<'},        {"gt", u'>'},        {"quot", u'"'},
    {"apos", u'\''},     {"nbsp", 0x00A0},    {"ndash", 0x2013},   {"mdash", 0x2014},
    {"hellip", 0x2026},  {"lsquo", 0x2018},   {"rsquo", 0x2019},   {"ldquo", 0x201C},
    {"rdquo", 0x201D},   {"laquo", 0x00AB},   {"raquo", 0x00BB},   {"copy", 0x00A9},
    {"reg", 0x00AE},     {"trade", 0x2122},   {"euro", 0x20AC},    {"shy", 0x00AD},
};

void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out += u'\uFFFD';
  } else if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// Decodes the reference at `pos` (which holds '&') into `out` and returns
// the position after it; returns `pos` when it is no reference we know.
size_t DecodeReference(std::u16string_view s, size_t pos, std::u16string& out) {
  size_t i = pos + 1;
  if (i < s.size() && s[i] == u'#') {
    ++i;
    const bool hex = i < s.size() && (s[i] == u'x' || s[i] == u'X');
    if (hex) ++i;
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < s.size(); ++i, ++digits) {
      const char16_t c = s[i];
      uint32_t d;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
      else break;
      value = value * (hex ? 16 : 10) + d;
      if (value > 0x10FFFF) value = 0x110000;  // stays out of range, never wraps
    }
    if (digits == 0) return pos;
    if (i < s.size() && s[i] == u';') ++i;
    AppendCodePoint(out, value);
    return i;
  }
  size_t end = i;
  while (end < s.size() && end - i < 8 && (IsAsciiLetter(s[end]) || (s[end] >= u'0' && s[end] <= u'9'))) ++end;
  if (end == i || end >= s.size() || s[end] != u';') return pos;
  for (const NamedEntity& e : kEntities) {
    if (std::strlen(e.name) == end - i && StartsWithNoCase(s, i, e.name)) {
      out += e.value;
      return end + 1;
    }
  }
  return pos;
}

// The end of the tag starting at `pos` (the position of its '>'), quoted
// attribute values skipped; npos when it runs to the end of the text.
size_t TagEnd(std::u16string_view s, size_t pos) {
  char16_t quote = 0;
  for (size_t i = pos + 1; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == u'"' || c == u'\'') {
      // Only a quote that opens an attribute value counts.
      if (s[i - 1] == u'=' || (s[i - 1] == u' ' && i >= 2 && s[i - 2] == u'=')) quote = c;
    } else if (c == u'>') {
      return i;
    }
  }
  return std::u16string_view::npos;
}

// Inline elements join the text around them ("co<b>a</b>st" reads "coast");
// every other tag separates words.
bool IsInlineTag(std::u16string_view s, size_t pos) {
  size_t i = pos + 1;
  if (i < s.size() && s[i] == u'/') ++i;
  size_t end = i;
  while (end < s.size() && (IsAsciiLetter(s[end]) || (s[end] >= u'0' && s[end] <= u'9'))) ++end;
  if (end == i || end - i > 6) return false;
  std::string name;
  for (size_t k = i; k < end; ++k) name += static_cast<char>(AsciiLower(s[k]));
  for (const char* tag : {"a", "abbr", "b", "big", "cite", "code", "em", "font", "i", "kbd", "mark",
                          "q", "s", "small", "span", "strike", "strong", "sub", "sup", "tt", "u"}) {
    if (name == tag) return true;
  }
  return false;
}

// The position after the tag, comment or skipped element starting at `pos`
// (which holds '<'), or npos when it runs to the end of the text.
size_t SkipMarkup(std::u16string_view s, size_t pos) {
  if (StartsWithNoCase(s, pos, "<!--")) {
    const size_t end = s.find(u"-->", pos + 4);
    return end == std::u16string_view::npos ? end : end + 3;
  }
  size_t close = TagEnd(s, pos);
  if (close == std::u16string_view::npos) return close;
  for (const char* element : {"script", "style"}) {
    const std::string open = std::string("<") + element;
    const size_t after = pos + open.size();
    if (StartsWithNoCase(s, pos, open) && after < s.size() && !IsAsciiLetter(s[after]) &&
        s[close - 1] != u'/') {
      // The element's contents are not text; it ends at its end tag.
      const std::string endTag = std::string("</") + element;
      for (size_t at = s.find(u'<', close); at != std::u16string_view::npos; at = s.find(u'<', at + 1)) {
        if (StartsWithNoCase(s, at, endTag)) {
          close = s.find(u'>', at);
          return close == std::u16string_view::npos ? close : close + 1;
        }
      }
      return std::u16string_view::npos;
    }
  }
  return close + 1;
}

// Whether the '<' at `pos` starts markup rather than being text ("a < b").
bool StartsMarkup(std::u16string_view s, size_t pos) {
  if (pos + 1 >= s.size()) return false;
  const char16_t next = s[pos + 1];
  return IsAsciiLetter(next) || next == u'/' || next == u'!' || next == u'?';
}

std::string FoldedUtf8(const std::u16string& text) {
  // Most text is ASCII, which folds to lower case byte by byte.
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c >= 0x80) return ToQString(text).toCaseFolded().toUtf8().toStdString();
    out += static_cast<char>(c >= u'A' && c <= u'Z' ? c + 32 : c);
  }
  return out;
}

bool Contains(std::string_view haystack, std::string_view needle) {
#if defined(__GLIBC__)
  // The C library's search is several times faster over long texts.
  return memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
#else
  return haystack.find(needle) != std::string_view::npos;
#endif
}

}  // namespace

std::u16string MarkupToText(std::u16string_view html) {
  std::u16string out;
  out.reserve(html.size());
  bool pendingSpace = false;
  auto put = [&](char16_t c) {
    if (IsSpace(c)) {
      pendingSpace = !out.empty();
      return;
    }
    if (pendingSpace) out += u' ';
    pendingSpace = false;
    out += c;
  };
  size_t i = 0;
  while (i < html.size()) {
    const char16_t c = html[i];
    if (c == u'<' && StartsMarkup(html, i)) {
      const size_t next = SkipMarkup(html, i);
      if (next == std::u16string_view::npos) break;
      if (!IsInlineTag(html, i)) put(u' ');
      i = next;
    } else if (c == u'&') {
      std::u16string decoded;
      const size_t next = DecodeReference(html, i, decoded);
      if (next == i) {
        put(c);
        ++i;
      } else {
        for (char16_t d : decoded) put(d);
        i = next;
      }
    } else {
      put(c);
      ++i;
    }
  }
  return out;
}

std::string CArticleFilter::SearchText(const CFeed& article) {
  // The description is decoded once more before it is read as HTML, as the
  // article page does, so text a feed escaped twice is searched as it shows.
  std::u16string text = DecodeForDisplay(article.m_title);
  text += u'\n';
  text += DecodeForDisplay(article.m_channel);
  text += u'\n';
  text += MarkupToText(DecodeEntities(article.m_description));
  return FoldedUtf8(text);
}

void CArticleFilter::SetText(const QString& text) {
  m_text = text;
  m_words.clear();
  for (const QString& word : text.split(QRegularExpression(QStringLiteral("[\\s\\x{00A0}]+")),
                                        Qt::SkipEmptyParts)) {
    m_words.push_back(word.toCaseFolded().toUtf8().toStdString());
  }
}

const std::string& CArticleFilter::CachedText(const CFeed& article) const {
  Entry& entry = m_cache[article.m_id];
  if (entry.record != &article) {
    entry.record = &article;
    entry.text = SearchText(article);
  }
  return entry.text;
}

bool CArticleFilter::Matches(const CFeed& article) const {
  return !(m_unreadOnly && article.m_read) && MatchesText(article);
}

bool CArticleFilter::MatchesText(const CFeed& article) const {
  return m_words.empty() || WordsIn(CachedText(article));
}

bool CArticleFilter::WordsIn(std::string_view text) const {
  for (const std::string& word : m_words)
    if (!Contains(text, word)) return false;
  return true;
}

void CArticleFilter::Prepare(const CFeedsManager& model, const IdList& articles, size_t from,
                             size_t count) const {
  for (size_t i = from; i < articles.size() && i < from + count; ++i)
    if (const CFeed* article = model.GetFeed(articles[i])) CachedText(*article);
}

void CArticleFilter::Apply(const CFeedsManager& model, IdList& articles,
                           const std::unordered_set<ObjectId>& keptWhenRead) const {
  // The same identifiers name the same records: nothing to look up again.
  if (articles != m_preparedIds) {
    m_preparedIds = articles;
    m_prepared.assign(articles.size(), Prepared{});
    for (size_t i = 0; i < articles.size(); ++i) m_prepared[i].record = model.GetFeed(articles[i]);
  }
  size_t kept = 0;
  for (size_t i = 0; i < articles.size(); ++i) {
    Prepared& p = m_prepared[i];
    if (p.record == nullptr) continue;
    if (m_unreadOnly && p.record->m_read && keptWhenRead.count(articles[i]) == 0) continue;
    if (!m_words.empty()) {
      if (p.text == nullptr) p.text = &CachedText(*p.record);
      if (!WordsIn(*p.text)) continue;
    }
    articles[kept++] = articles[i];
  }
  articles.resize(kept);
}

}  // namespace qb
