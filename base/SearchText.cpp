#include "base/SearchText.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace qb {

namespace {

bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Whether `s` at `pos` begins with `lower` (lower-case ASCII), ignoring case.
bool StartsWithNoCase(std::u16string_view s, size_t pos, std::string_view lower) {
  if (pos > s.size() || s.size() - pos < lower.size()) return false;
  for (size_t i = 0; i < lower.size(); ++i) {
    if (AsciiLower(s[pos + i]) != static_cast<char16_t>(lower[i])) return false;
  }
  return true;
}

// Reads the code point at `pos` and advances past it; a lone surrogate is
// returned as its own value.
char32_t NextCodePoint(std::u16string_view s, size_t& pos) {
  const char16_t c = s[pos++];
  if (c >= 0xD800 && c <= 0xDBFF && pos < s.size() && s[pos] >= 0xDC00 && s[pos] <= 0xDFFF) {
    const char16_t low = s[pos++];
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (low - 0xDC00);
  }
  return c;
}

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

struct NamedEntity {
  const char* name;
  char16_t value;
};
// The named entities feeds use most; anything else stays as written.
constexpr NamedEntity kEntities[] = {
    {"amp", u'&'},      {"lt", u'<'},       {"gt", u'>'},       {"quot", u'"'},     {"apos", u'\''},
    {"nbsp", 0x00A0},   {"ndash", 0x2013},  {"mdash", 0x2014},  {"hellip", 0x2026}, {"lsquo", 0x2018},
    {"rsquo", 0x2019},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"laquo", 0x00AB},  {"raquo", 0x00BB},
    {"copy", 0x00A9},   {"reg", 0x00AE},    {"trade", 0x2122},  {"euro", 0x20AC},   {"shy", 0x00AD},
    {"auml", 0x00E4},   {"ouml", 0x00F6},   {"uuml", 0x00FC},   {"szlig", 0x00DF},  {"eacute", 0x00E9},
    {"egrave", 0x00E8}, {"agrave", 0x00E0}, {"ccedil", 0x00E7},
};

// Decodes the reference at `pos` (which holds '&') into `out`; returns the
// position after it, or `pos` when it is no reference.
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
      if (IsAsciiDigit(c)) {
        d = c - u'0';
      } else if (hex && c >= u'a' && c <= u'f') {
        d = c - u'a' + 10;
      } else if (hex && c >= u'A' && c <= u'F') {
        d = c - u'A' + 10;
      } else {
        break;
      }
      value = std::min<uint32_t>(value * (hex ? 16 : 10) + d, 0x110000);
    }
    if (digits == 0) return pos;
    if (i < s.size() && s[i] == u';') ++i;
    const bool valid = value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    AppendCodePoint(out, valid ? value : 0xFFFD);
    return i;
  }
  size_t end = i;
  while (end < s.size() && end - i < 8 && (IsAsciiLetter(s[end]) || IsAsciiDigit(s[end]))) ++end;
  if (end == i || end >= s.size() || s[end] != u';') return pos;
  for (const NamedEntity& e : kEntities) {
    if (std::strlen(e.name) == end - i && StartsWithNoCase(s, i, e.name)) {
      out += e.value;
      return end + 1;
    }
  }
  return pos;
}

// Whether the '<' at `pos` opens markup rather than being text ("a < b").
bool OpensMarkup(std::u16string_view s, size_t pos) {
  if (pos + 1 >= s.size()) return false;
  const char16_t next = s[pos + 1];
  return IsAsciiLetter(next) || next == u'/' || next == u'!' || next == u'?';
}

// The position after the markup that starts at `pos`: a comment, a tag
// (quoted attribute values may hold '>'), or a script or style element
// with its contents. npos when it runs to the end of the text.
size_t MarkupEnd(std::u16string_view s, size_t pos) {
  constexpr size_t npos = std::u16string_view::npos;
  if (StartsWithNoCase(s, pos, "<!--")) {
    const size_t end = s.find(u"-->", pos + 4);
    return end == npos ? npos : end + 3;
  }
  char16_t quote = 0;
  size_t close = npos;
  for (size_t i = pos + 1; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if ((c == u'"' || c == u'\'') && s[i - 1] == u'=') {
      quote = c;
    } else if (c == u'>') {
      close = i;
      break;
    }
  }
  if (close == npos) return npos;
  for (std::string_view element : {std::string_view("script"), std::string_view("style")}) {
    const size_t after = pos + 1 + element.size();
    if (StartsWithNoCase(s, pos + 1, element) && after < s.size() && !IsAsciiLetter(s[after]) &&
        s[close - 1] != u'/') {
      for (size_t at = s.find(u"</", close); at != npos; at = s.find(u"</", at + 2)) {
        if (StartsWithNoCase(s, at + 2, element)) {
          const size_t end = s.find(u'>', at);
          return end == npos ? npos : end + 1;
        }
      }
      return npos;
    }
  }
  return close + 1;
}

// Simple case folding of the alphabets named in the header, by ranges.
char32_t FoldRange(char32_t c) {
  // Latin-1 Supplement.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0xB5) return 0x3BC;
  // Latin Extended-A: pairs, upper case first.
  if (c >= 0x100 && c <= 0x12F) return c | 1;
  if (c >= 0x132 && c <= 0x137) return c | 1;
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
  if (c == 0x17F) return u's';
  // Greek.
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c == 0x3C2) return 0x3C3;
  // Cyrillic.
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x460 && c <= 0x481) return c | 1;
  if (c >= 0x48A && c <= 0x4BF) return c | 1;
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c + 1 : c;
  if (c >= 0x4D0 && c <= 0x52F) return c | 1;
  // Armenian.
  if (c >= 0x531 && c <= 0x556) return c + 48;
  // Latin Extended Additional.
  if (c >= 0x1E00 && c <= 0x1E95) return c | 1;
  if (c == 0x1E9E) return 0xDF;
  if (c >= 0x1EA0 && c <= 0x1EFF) return c | 1;
  // Fullwidth Latin.
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

}  // namespace

std::u16string DecodeFeedEntities(std::u16string_view text) {
  std::u16string s(text);
  const std::pair<std::u16string_view, char16_t> passes[] = {
      {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&amp;", u'&'}, {u"&apos;", u'\''}};
  for (const auto& [entity, value] : passes) {
    size_t at = s.find(entity);
    if (at == std::u16string::npos) continue;
    std::u16string out;
    out.reserve(s.size());
    size_t from = 0;
    for (; at != std::u16string::npos; at = s.find(entity, from)) {
      out.append(s, from, at - from);
      out += value;
      from = at + entity.size();
    }
    out.append(s, from, std::u16string::npos);
    s.swap(out);
  }
  return s;
}

std::u16string MarkupText(std::u16string_view html) {
  std::u16string out;
  out.reserve(html.size());
  size_t i = 0;
  while (i < html.size()) {
    const char16_t c = html[i];
    if (c == u'<' && OpensMarkup(html, i)) {
      const size_t next = MarkupEnd(html, i);
      if (next == std::u16string_view::npos) break;
      out += u' ';
      i = next;
    } else if (c == u'&') {
      const size_t next = DecodeReference(html, i, out);
      if (next == i) {
        out += c;
        ++i;
      } else {
        i = next;
      }
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? c + 32 : c;
  return FoldRange(c);
}

bool IsWordCharacter(char32_t c) {
  if (c < 0x80) return IsAsciiLetter(static_cast<char16_t>(c)) || IsAsciiDigit(static_cast<char16_t>(c));
  if (c < 0xC0) return c == 0xAA || c == 0xB2 || c == 0xB3 || c == 0xB5 || c == 0xB9 || c == 0xBA;
  if (c == 0xD7 || c == 0xF7) return false;
  if (c <= 0xFFFF && IsWideSpace(static_cast<char16_t>(c))) return false;
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kBreaks[] = {
      {0x2000, 0x206F},    // general punctuation
      {0x20A0, 0x20CF},    // currency
      {0x2190, 0x23FF},    // arrows, mathematical and technical signs
      {0x2500, 0x27BF},    // box drawing, shapes, symbols, dingbats
      {0x27C0, 0x27FF},    // more mathematical signs and arrows
      {0x2900, 0x2BFF},    // arrows and symbols
      {0x2E00, 0x2E7F},    // supplemental punctuation
      {0x3000, 0x303F},    // CJK symbols and punctuation
      {0xD800, 0xDFFF},    // lone surrogates
      {0xFE30, 0xFE6F},    // CJK compatibility and small forms
      {0xFEFF, 0xFEFF},    // byte-order mark
      {0xFF00, 0xFF0F},    // fullwidth punctuation
      {0xFF1A, 0xFF20},
      {0xFF3B, 0xFF40},
      {0xFF5B, 0xFF65},
      {0xFFF0, 0xFFFF},    // specials, U+FFFD among them
      {0x1F000, 0x1FAFF},  // emoji and pictographs
  };
  for (const Range& r : kBreaks) {
    if (c >= r.first && c <= r.last) return false;
  }
  return true;
}

void AppendWords(std::u16string_view text, std::vector<std::u16string>& out) {
  std::u16string word;
  size_t i = 0;
  while (i < text.size()) {
    const char32_t c = FoldCase(NextCodePoint(text, i));
    if (IsWordCharacter(c)) {
      AppendCodePoint(word, c);
    } else if (!word.empty()) {
      out.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) out.push_back(std::move(word));
}

std::vector<std::u16string> SearchWords(std::u16string_view text) {
  std::vector<std::u16string> words;
  AppendWords(text, words);
  return words;
}

std::vector<std::u16string> ArticleWords(std::u16string_view title, std::u16string_view channel,
                                         std::u16string_view description) {
  std::vector<std::u16string> words;
  AppendWords(MarkupText(title), words);
  AppendWords(MarkupText(channel), words);
  AppendWords(MarkupText(DecodeFeedEntities(description)), words);
  return words;
}

std::string IndexText(const std::vector<std::u16string>& words) {
  std::string text;
  for (const std::u16string& w : words) {
    if (!text.empty()) text += ' ';
    text += Utf16ToUtf8(w);
  }
  return text;
}

std::string FullTextQuery(const std::vector<std::u16string>& queryWords) {
  // A word holds no quote (it is ASCII punctuation), so quoting it is safe.
  std::string query;
  for (const std::u16string& w : queryWords) {
    if (!query.empty()) query += " AND ";
    query += '"' + Utf16ToUtf8(w) + "\"*";
  }
  return query;
}

bool WordsMatch(const std::vector<std::u16string>& articleWords, const std::vector<std::u16string>& queryWords) {
  return std::all_of(queryWords.begin(), queryWords.end(), [&](const std::u16string& q) {
    return std::any_of(articleWords.begin(), articleWords.end(),
                       [&](const std::u16string& w) { return w.compare(0, q.size(), q) == 0; });
  });
}

}  // namespace qb
