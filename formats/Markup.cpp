#include "formats/Markup.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/Text.h"

namespace qb {
namespace {

bool StartsWith(std::u16string_view s, size_t pos, std::u16string_view prefix) {
  return s.size() - pos >= prefix.size() && s.compare(pos, prefix.size(), prefix) == 0;
}

void AppendDecimal(std::u16string& out, uint32_t value) {
  char16_t digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

int DigitValue(char16_t c, int base) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (base == 16) {
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  }
  return -1;
}


bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendCodePoint(std::u16string& out, uint32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

// A character reference "&#NNN;" or "&#xHH;" at `pos` (which holds "&"):
// its value and length, or false when there is none or it names no
// character. The ";" is required.
bool ReadCharRef(std::u16string_view s, size_t pos, uint32_t& value, size_t& length) {
  size_t i = pos + 1;
  if (i >= s.size() || s[i] != u'#') return false;
  ++i;
  int base = 10;
  if (i < s.size() && (s[i] == u'x' || s[i] == u'X')) {
    base = 16;
    ++i;
  }
  const size_t first = i;
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    const int d = DigitValue(s[i], base);
    if (d < 0) break;
    v = std::min<uint64_t>(v * base + d, 0x110000);
  }
  if (i == first || i >= s.size() || s[i] != u';' || !IsXmlChar(static_cast<uint32_t>(v))) return false;
  value = static_cast<uint32_t>(v);
  length = i + 1 - pos;
  return true;
}

struct NamedEntity {
  std::u16string_view name;
  uint32_t value;
};

// The entities of HTML 4 and "&apos;", sorted by name (ordinal).
constexpr NamedEntity kHtmlEntities[] = {
    {u"AElig", 198}, {u"Aacute", 193}, {u"Acirc", 194}, {u"Agrave", 192}, {u"Alpha", 913}, {u"Aring", 197},
    {u"Atilde", 195}, {u"Auml", 196}, {u"Beta", 914}, {u"Ccedil", 199}, {u"Chi", 935}, {u"Dagger", 8225},
    {u"Delta", 916}, {u"ETH", 208}, {u"Eacute", 201}, {u"Ecirc", 202}, {u"Egrave", 200}, {u"Epsilon", 917},
    {u"Eta", 919}, {u"Euml", 203}, {u"Gamma", 915}, {u"Iacute", 205}, {u"Icirc", 206}, {u"Igrave", 204},
    {u"Iota", 921}, {u"Iuml", 207}, {u"Kappa", 922}, {u"Lambda", 923}, {u"Mu", 924}, {u"Ntilde", 209},
    {u"Nu", 925}, {u"OElig", 338}, {u"Oacute", 211}, {u"Ocirc", 212}, {u"Ograve", 210}, {u"Omega", 937},
    {u"Omicron", 927}, {u"Oslash", 216}, {u"Otilde", 213}, {u"Ouml", 214}, {u"Phi", 934}, {u"Pi", 928},
    {u"Prime", 8243}, {u"Psi", 936}, {u"Rho", 929}, {u"Scaron", 352}, {u"Sigma", 931}, {u"THORN", 222},
    {u"Tau", 932}, {u"Theta", 920}, {u"Uacute", 218}, {u"Ucirc", 219}, {u"Ugrave", 217}, {u"Upsilon", 933},
    {u"Uuml", 220}, {u"Xi", 926}, {u"Yacute", 221}, {u"Yuml", 376}, {u"Zeta", 918}, {u"aacute", 225},
    {u"acirc", 226}, {u"acute", 180}, {u"aelig", 230}, {u"agrave", 224}, {u"alefsym", 8501}, {u"alpha", 945},
    {u"amp", 38}, {u"and", 8743}, {u"ang", 8736}, {u"apos", 39}, {u"aring", 229}, {u"asymp", 8776},
    {u"atilde", 227}, {u"auml", 228}, {u"bdquo", 8222}, {u"beta", 946}, {u"brvbar", 166}, {u"bull", 8226},
    {u"cap", 8745}, {u"ccedil", 231}, {u"cedil", 184}, {u"cent", 162}, {u"chi", 967}, {u"circ", 710},
    {u"clubs", 9827}, {u"cong", 8773}, {u"copy", 169}, {u"crarr", 8629}, {u"cup", 8746}, {u"curren", 164},
    {u"dArr", 8659}, {u"dagger", 8224}, {u"darr", 8595}, {u"deg", 176}, {u"delta", 948}, {u"diams", 9830},
    {u"divide", 247}, {u"eacute", 233}, {u"ecirc", 234}, {u"egrave", 232}, {u"empty", 8709}, {u"emsp", 8195},
    {u"ensp", 8194}, {u"epsilon", 949}, {u"equiv", 8801}, {u"eta", 951}, {u"eth", 240}, {u"euml", 235},
    {u"euro", 8364}, {u"exist", 8707}, {u"fnof", 402}, {u"forall", 8704}, {u"frac12", 189}, {u"frac14", 188},
    {u"frac34", 190}, {u"frasl", 8260}, {u"gamma", 947}, {u"ge", 8805}, {u"gt", 62}, {u"hArr", 8660},
    {u"harr", 8596}, {u"hearts", 9829}, {u"hellip", 8230}, {u"iacute", 237}, {u"icirc", 238}, {u"iexcl", 161},
    {u"igrave", 236}, {u"image", 8465}, {u"infin", 8734}, {u"int", 8747}, {u"iota", 953}, {u"iquest", 191},
    {u"isin", 8712}, {u"iuml", 239}, {u"kappa", 954}, {u"lArr", 8656}, {u"lambda", 955}, {u"lang", 9001},
    {u"laquo", 171}, {u"larr", 8592}, {u"lceil", 8968}, {u"ldquo", 8220}, {u"le", 8804}, {u"lfloor", 8970},
    {u"lowast", 8727}, {u"loz", 9674}, {u"lrm", 8206}, {u"lsaquo", 8249}, {u"lsquo", 8216}, {u"lt", 60},
    {u"macr", 175}, {u"mdash", 8212}, {u"micro", 181}, {u"middot", 183}, {u"minus", 8722}, {u"mu", 956},
    {u"nabla", 8711}, {u"nbsp", 160}, {u"ndash", 8211}, {u"ne", 8800}, {u"ni", 8715}, {u"not", 172},
    {u"notin", 8713}, {u"nsub", 8836}, {u"ntilde", 241}, {u"nu", 957}, {u"oacute", 243}, {u"ocirc", 244},
    {u"oelig", 339}, {u"ograve", 242}, {u"oline", 8254}, {u"omega", 969}, {u"omicron", 959}, {u"oplus", 8853},
    {u"or", 8744}, {u"ordf", 170}, {u"ordm", 186}, {u"oslash", 248}, {u"otilde", 245}, {u"otimes", 8855},
    {u"ouml", 246}, {u"para", 182}, {u"part", 8706}, {u"permil", 8240}, {u"perp", 8869}, {u"phi", 966},
    {u"pi", 960}, {u"piv", 982}, {u"plusmn", 177}, {u"pound", 163}, {u"prime", 8242}, {u"prod", 8719},
    {u"prop", 8733}, {u"psi", 968}, {u"quot", 34}, {u"rArr", 8658}, {u"radic", 8730}, {u"rang", 9002},
    {u"raquo", 187}, {u"rarr", 8594}, {u"rceil", 8969}, {u"rdquo", 8221}, {u"real", 8476}, {u"reg", 174},
    {u"rfloor", 8971}, {u"rho", 961}, {u"rlm", 8207}, {u"rsaquo", 8250}, {u"rsquo", 8217}, {u"sbquo", 8218},
    {u"scaron", 353}, {u"sdot", 8901}, {u"sect", 167}, {u"shy", 173}, {u"sigma", 963}, {u"sigmaf", 962},
    {u"sim", 8764}, {u"spades", 9824}, {u"sub", 8834}, {u"sube", 8838}, {u"sum", 8721}, {u"sup", 8835},
    {u"sup1", 185}, {u"sup2", 178}, {u"sup3", 179}, {u"supe", 8839}, {u"szlig", 223}, {u"tau", 964},
    {u"there4", 8756}, {u"theta", 952}, {u"thetasym", 977}, {u"thinsp", 8201}, {u"thorn", 254},
    {u"tilde", 732}, {u"times", 215}, {u"trade", 8482}, {u"uArr", 8657}, {u"uacute", 250}, {u"uarr", 8593},
    {u"ucirc", 251}, {u"ugrave", 249}, {u"uml", 168}, {u"upsih", 978}, {u"upsilon", 965}, {u"uuml", 252},
    {u"weierp", 8472}, {u"xi", 958}, {u"yacute", 253}, {u"yen", 165}, {u"yuml", 255}, {u"zeta", 950},
    {u"zwj", 8205}, {u"zwnj", 8204},
};

// A named entity "&name;" at `pos` (which holds "&") among `table`.
bool ReadNamedEntity(std::u16string_view s, size_t pos, std::span<const NamedEntity> table, uint32_t& value,
                     size_t& length) {
  constexpr size_t kLongestName = 8;  // "thetasym"
  const size_t semicolon = s.substr(pos + 1, kLongestName + 1).find(u';');
  if (semicolon == std::u16string_view::npos || semicolon == 0) return false;
  const std::u16string_view name = s.substr(pos + 1, semicolon);
  const auto it = std::lower_bound(table.begin(), table.end(), name,
                                   [](const NamedEntity& e, std::u16string_view n) { return e.name < n; });
  if (it == table.end() || it->name != name) return false;
  value = it->value;
  length = semicolon + 2;
  return true;
}

constexpr NamedEntity kXmlEntities[] = {
    {u"amp", '&'}, {u"apos", '\''}, {u"gt", '>'}, {u"lt", '<'}, {u"quot", '"'},
};

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// The elements of HTML, sorted: only tags of these are markup in a title,
// so a name like "Tech & <Science>" keeps its text.
constexpr std::u16string_view kHtmlElements[] = {
    u"a", u"abbr", u"acronym", u"address", u"area", u"article", u"aside", u"audio", u"b", u"base", u"bdi", u"bdo",
    u"big", u"blockquote", u"body", u"br", u"button", u"canvas", u"caption", u"center", u"cite", u"code", u"col",
    u"colgroup", u"data", u"datalist", u"dd", u"del", u"details", u"dfn", u"dialog", u"dir", u"div", u"dl", u"dt",
    u"em", u"embed", u"fieldset", u"figcaption", u"figure", u"font", u"footer", u"form", u"frame", u"frameset",
    u"h1", u"h2", u"h3", u"h4", u"h5", u"h6", u"head", u"header", u"hgroup", u"hr", u"html", u"i", u"iframe",
    u"img", u"input", u"ins", u"kbd", u"label", u"legend", u"li", u"link", u"main", u"map", u"mark", u"math",
    u"menu", u"meta", u"meter", u"nav", u"nobr", u"noscript", u"object", u"ol", u"optgroup", u"option", u"output",
    u"p", u"param", u"picture", u"pre", u"progress", u"q", u"rp", u"rt", u"ruby", u"s", u"samp", u"script",
    u"section", u"select", u"small", u"source", u"span", u"strike", u"strong", u"style", u"sub", u"summary",
    u"sup", u"svg", u"table", u"tbody", u"td", u"template", u"textarea", u"tfoot", u"th", u"thead", u"time",
    u"title", u"tr", u"track", u"tt", u"u", u"ul", u"var", u"video", u"wbr",
};

// The element name of an HTML tag at `pos` (which holds "<"), in lower
// case, when it is a start or end tag of an HTML element that is closed by
// a ">"; empty otherwise. `end` is set to the position of that ">".
std::u16string HtmlTagName(std::u16string_view s, size_t pos, size_t& end) {
  size_t i = pos + 1;
  if (i < s.size() && s[i] == u'/') ++i;
  std::u16string name;
  while (i < s.size() && (IsAsciiLetter(s[i]) || (s[i] >= u'0' && s[i] <= u'9')) && name.size() < 16) {
    char16_t c = s[i++];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    name.push_back(c);
  }
  if (name.empty() || i >= s.size()) return {};
  const char16_t next = s[i];
  if (next != u'>' && next != u'/' && !IsWideSpace(next)) return {};
  if (!std::binary_search(std::begin(kHtmlElements), std::end(kHtmlElements), std::u16string_view(name))) return {};
  end = FindCodeUnit(s, u'>', i);
  return end == std::u16string_view::npos ? std::u16string() : name;
}

// What a browser makes of a numeric character reference: a value that
// names no character is U+FFFD, and 0x80 to 0x9F are read as windows-1252.
uint32_t HtmlCharRefValue(std::u16string_view s, size_t pos, size_t& length) {
  size_t i = pos + 2;
  int base = 10;
  if (i < s.size() && (s[i] == u'x' || s[i] == u'X')) {
    base = 16;
    ++i;
  }
  const size_t first = i;
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    const int d = DigitValue(s[i], base);
    if (d < 0) break;
    v = std::min<uint64_t>(v * base + d, 0x110000);
  }
  if (i == first || i >= s.size() || s[i] != u';') {
    length = 0;
    return 0;
  }
  length = i + 1 - pos;
  static constexpr char16_t kWindows1252[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  if (v >= 0x80 && v <= 0x9F) return kWindows1252[v - 0x80];
  if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0xFFFD;
  return static_cast<uint32_t>(v);
}

}  // namespace

size_t FindCodeUnit(std::u16string_view s, char16_t c, size_t pos) {
  const size_t n = s.size();
  const char16_t* data = s.data();
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi16(static_cast<short>(c));
  while (pos + 8 <= n) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, needle));
    if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    pos += 8;
  }
#endif
  for (; pos < n; ++pos) {
    if (data[pos] == c) return pos;
  }
  return std::u16string_view::npos;
}

size_t DecodeEntitiesInto(std::u16string_view s, char16_t* out) {
  // One left-to-right pass with the result of the four ordered passes: the
  // entities never overlap (each has one "&", at its start), "<" and ">" can
  // form nothing new, and the only text a later pass sees that an earlier one
  // made is the "&" of a decoded "&amp;" followed by "apos;".
  const size_t n = s.size();
  char16_t* w = out;
  size_t i = 0;
  while (i < n) {
    size_t amp = FindCodeUnit(s, u'&', i);
    if (amp == std::u16string_view::npos) amp = n;
    std::memcpy(w, s.data() + i, (amp - i) * sizeof(char16_t));
    w += amp - i;
    i = amp;
    if (i == n) break;
    if (StartsWith(s, i, u"&lt;")) {
      *w++ = u'<';
      i += 4;
    } else if (StartsWith(s, i, u"&gt;")) {
      *w++ = u'>';
      i += 4;
    } else if (StartsWith(s, i, u"&apos;")) {
      *w++ = u'\'';
      i += 6;
    } else if (StartsWith(s, i, u"&amp;")) {
      if (StartsWith(s, i + 5, u"apos;")) {
        *w++ = u'\'';
        i += 10;
      } else {
        *w++ = u'&';
        i += 5;
      }
    } else {
      *w++ = u'&';
      ++i;
    }
  }
  return static_cast<size_t>(w - out);
}

std::u16string DecodeEntities(std::u16string_view s) {
  std::u16string out(s.size(), u'\0');  // decoding never lengthens the text
  out.resize(DecodeEntitiesInto(s, out.data()));
  return out;
}

std::u16string EncodeEntities(std::u16string_view s) {
  size_t extra = 0;
  for (char16_t c : s) {
    switch (c) {
      case u'\'': extra += 5; break;
      case u'&': extra += 4; break;
      case u'<': case u'>': extra += 3; break;
      default: break;
    }
  }
  if (extra == 0) return std::u16string(s);
  std::u16string out(s.size() + extra, u'\0');
  char16_t* w = out.data();
  const auto put = [&w](std::u16string_view entity) {
    for (char16_t e : entity) *w++ = e;
  };
  for (char16_t c : s) {
    switch (c) {
      case u'\'': put(u"&apos;"); break;
      case u'&': put(u"&amp;"); break;
      case u'<': put(u"&lt;"); break;
      case u'>': put(u"&gt;"); break;
      default: *w++ = c;
    }
  }
  return out;
}

std::u16string DecodeCharRefs(std::u16string_view s) {
  // The text is decoded as if every reference were replaced in place and the
  // search restarted from the front, but in one pass: `out` is final text
  // holding no "&#" and no NUL, `rest` the part of `s` not yet looked at. A
  // decoded "&" or "#" can only form a new reference with its neighbour,
  // which the two checks after a decode catch.
  const size_t nul = s.find(char16_t{0});
  const size_t searchEnd = nul == std::u16string_view::npos ? s.size() : nul;
  std::u16string out;
  out.reserve(s.size());
  std::u16string_view rest = s;
  bool decoded = false;
  for (;;) {
    if (decoded && out.size() >= 2 && out[out.size() - 2] == u'&' && out.back() == u'#') {
      out.resize(out.size() - 2);
    } else if (decoded && !out.empty() && out.back() == u'&' && !rest.empty() && rest[0] == u'#') {
      out.pop_back();
      rest.remove_prefix(1);
    } else {
      const size_t offset = static_cast<size_t>(rest.data() - s.data());
      const size_t limit = searchEnd > offset ? searchEnd - offset : 0;
      const size_t p = rest.substr(0, limit).find(u"&#");
      if (p == std::u16string_view::npos) break;
      out.append(rest.data(), p);
      rest.remove_prefix(p + 2);
    }

    int base = 10;
    if (!rest.empty() && (rest[0] == u'x' || rest[0] == u'X')) {
      base = 16;
      rest.remove_prefix(1);
    }
    uint64_t value = 0;
    size_t digits = 0;
    while (digits < rest.size()) {
      const int d = DigitValue(rest[digits], base);
      if (d < 0) break;
      value = value * base + d;
      if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;  // an unsigned read saturates
      ++digits;
    }
    rest = TrimView(rest.substr(digits));
    if (!rest.empty() && rest[0] == u';') rest.remove_prefix(1);

    if (value >= 0x10000 && value <= 0x10FFFF) {
      const uint32_t v = static_cast<uint32_t>(value) - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      const char16_t unit = static_cast<char16_t>(value & 0xFFFF);
      out.push_back(unit);
      if (unit == 0) {
        // The search for further references stops at the NUL.
        out.append(rest);
        return out;
      }
    }
    decoded = true;
  }
  out.append(rest);
  return out;
}

std::u16string EncodeCharRefs(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c <= 255) {
      out.push_back(c);
      continue;
    }
    uint32_t value = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      value = 0x10000 + ((c - 0xD800u) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    }
    out.append(u"&#");
    AppendDecimal(out, value);
    out.push_back(u';');
  }
  return out;
}

namespace {

// The position of the first '<' or '&' at or after `pos`, else the size.
size_t FindTagOrReference(std::u16string_view s, size_t pos) {
  const size_t n = s.size();
  const char16_t* data = s.data();
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi16(static_cast<short>(u'<'));
  const __m128i amp = _mm_set1_epi16(static_cast<short>(u'&'));
  while (pos + 8 <= n) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(block, lt), _mm_cmpeq_epi16(block, amp)));
    if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    pos += 8;
  }
#endif
  while (pos < n && data[pos] != u'<' && data[pos] != u'&') ++pos;
  return pos;
}

}  // namespace

std::u16string DecodeXmlText(std::u16string_view markup) {
  std::u16string out;
  out.reserve(markup.size());
  size_t i = 0;
  const size_t n = markup.size();
  while (i < n) {
    // Plain text up to the next '<' or '&' is copied in one piece.
    const size_t plain = FindTagOrReference(markup, i);
    if (plain > i) {
      out.append(markup.substr(i, plain - i));
      i = plain;
      if (i == n) break;
    }
    const char16_t c = markup[i];
    if (c == u'<' && markup.compare(i, 9, u"<![CDATA[") == 0) {
      const size_t end = markup.find(u"]]>", i + 9);
      const size_t stop = end == std::u16string_view::npos ? n : end;
      out.append(markup.substr(i + 9, stop - i - 9));
      i = end == std::u16string_view::npos ? n : end + 3;
      continue;
    }
    // Comments and processing instructions are no character data. One
    // without its end is text.
    if (c == u'<' && markup.compare(i, 4, u"<!--") == 0) {
      const size_t end = markup.find(u"-->", i + 2);
      if (end != std::u16string_view::npos) {
        i = end + 3;
        continue;
      }
    } else if (c == u'<' && markup.compare(i, 2, u"<?") == 0) {
      const size_t end = markup.find(u"?>", i + 2);
      if (end != std::u16string_view::npos) {
        i = end + 2;
        continue;
      }
    }
    if (c == u'&') {
      uint32_t value = 0;
      size_t length = 0;
      if (ReadCharRef(markup, i, value, length) || ReadNamedEntity(markup, i, kXmlEntities, value, length)) {
        AppendCodePoint(out, value);
        i += length;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

std::u16string EscapeHtml(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::u16string HtmlToText(std::u16string_view html) {
  std::u16string out;
  out.reserve(html.size());
  size_t i = 0;
  const size_t n = html.size();
  while (i < n) {
    const char16_t c = html[i];
    if (c == u'<') {
      if (html.compare(i, 4, u"<!--") == 0) {
        const size_t end = html.find(u"-->", i + 4);
        if (end != std::u16string_view::npos) {
          i = end + 3;
          continue;
        }
      }
      size_t end = 0;
      const std::u16string name = HtmlTagName(html, i, end);
      if (!name.empty()) {
        if (name == u"br") out.push_back(u' ');
        i = end + 1;
        continue;
      }
    }
    if (c == u'&') {
      uint32_t value = 0;
      size_t length = 0;
      if (i + 1 < n && html[i + 1] == u'#') {
        value = HtmlCharRefValue(html, i, length);
        if (length != 0) {
          AppendCodePoint(out, value);
          i += length;
          continue;
        }
      } else if (ReadNamedEntity(html, i, kHtmlEntities, value, length)) {
        AppendCodePoint(out, value);
        i += length;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

std::u16string TitleText(std::u16string_view title) {
  if (title.find_first_of(u"&<") == std::u16string_view::npos) return std::u16string(title);
  return HtmlToText(title);
}

std::u16string TextAsTitle(std::u16string_view text) {
  if (TitleText(text) == text) return std::u16string(text);
  return EscapeHtml(text);
}

}  // namespace qb
