#include "formats/JsonFeed.h"

#include <nlohmann/json.hpp>

#include "base/Text.h"

namespace qb {

namespace {

using Json = nlohmann::json;

bool IsJsonSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

size_t SkipSpace(std::u16string_view s, size_t pos) {
  while (pos < s.size() && IsJsonSpace(s[pos])) ++pos;
  return pos;
}

size_t FirstJsonUnit(std::u16string_view text) {
  size_t pos = 0;
  if (!text.empty() && text[0] == 0xFEFF) pos = 1;
  return SkipSpace(text, pos);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of the escape "\uXXXX" at `pos`, or -1 when there is none.
long EscapedUnit(const std::string& json, size_t pos) {
  if (pos > json.size() || json.size() - pos < 6 || json[pos] != '\\' || json[pos + 1] != 'u') return -1;
  long unit = 0;
  for (size_t k = pos + 2; k < pos + 6; ++k) {
    const int digit = HexValue(json[k]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// Half of a surrogate pair escaped alone (a cut emoji, as JavaScript writes
// it) becomes "\ufffd": one bad string does not cost the whole feed. The
// text keeps its length.
void ReplaceLoneSurrogates(std::string& json) {
  for (size_t i = json.find('\\'); i != std::string::npos && i + 1 < json.size(); i = json.find('\\', i)) {
    const long unit = EscapedUnit(json, i);
    if (unit < 0xD800 || unit > 0xDFFF) {
      i += 2;  // any other escape, "\\" included
      continue;
    }
    const long next = unit <= 0xDBFF ? EscapedUnit(json, i + 6) : -1;
    if (next >= 0xDC00 && next <= 0xDFFF) {
      i += 12;
      continue;
    }
    json.replace(i + 2, 4, "fffd");
    i += 6;
  }
}

// Parsed without exceptions: malformed text gives a discarded value.
Json ParseJson(std::u16string_view text) {
  return Json::parse(JsonFeedUtf8(text.substr(FirstJsonUnit(text))), nullptr, /*allow_exceptions=*/false);
}

std::u16string StringMember(const Json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return {};
  return Utf8ToUtf16(it->get_ref<const std::string&>());
}

std::u16string IdMember(const Json& object) {
  const auto it = object.find("id");
  if (it == object.end()) return {};
  if (it->is_string()) return Utf8ToUtf16(it->get_ref<const std::string&>());
  if (it->is_number()) return Utf8ToUtf16(it->dump());
  return {};
}

bool IsJsonFeedVersion(std::u16string_view version) {
  for (std::u16string_view prefix : {u"https://jsonfeed.org/version/", u"http://jsonfeed.org/version/"}) {
    if (version.size() > prefix.size() && version.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

// The structure of text already known to be well-formed JSON: where the
// value starting at `pos` ends.
size_t SkipValue(std::u16string_view s, size_t pos) {
  if (pos >= s.size()) return s.size();
  if (s[pos] == u'"') {
    for (size_t i = pos + 1; i < s.size(); ++i) {
      if (s[i] == u'\\') {
        ++i;
      } else if (s[i] == u'"') {
        return i + 1;
      }
    }
    return s.size();
  }
  if (s[pos] == u'{' || s[pos] == u'[') {
    size_t depth = 0;
    for (size_t i = pos; i < s.size(); ++i) {
      const char16_t c = s[i];
      if (c == u'"') {
        i = SkipValue(s, i) - 1;
      } else if (c == u'{' || c == u'[') {
        ++depth;
      } else if (c == u'}' || c == u']') {
        if (--depth == 0) return i + 1;
      }
    }
    return s.size();
  }
  size_t i = pos;
  while (i < s.size() && !IsJsonSpace(s[i]) && s[i] != u',' && s[i] != u']' && s[i] != u'}') ++i;
  return i;
}

// The spans of the elements of the top-level object's "items" array (the
// last member of that name), in order; empty when there is none.
std::vector<std::pair<size_t, size_t>> ItemSpans(std::u16string_view s) {
  std::vector<std::pair<size_t, size_t>> spans;
  size_t pos = FirstJsonUnit(s);
  if (pos >= s.size() || s[pos] != u'{') return spans;
  pos = SkipSpace(s, pos + 1);
  while (pos < s.size() && s[pos] == u'"') {
    const size_t keyEnd = SkipValue(s, pos);
    const Json key = Json::parse(Utf16ToUtf8(s.substr(pos, keyEnd - pos)), nullptr, false);
    pos = SkipSpace(s, keyEnd);
    if (pos < s.size() && s[pos] == u':') pos = SkipSpace(s, pos + 1);
    const size_t valueEnd = SkipValue(s, pos);
    if (key.is_string() && key.get_ref<const std::string&>() == "items") {
      spans.clear();
      if (pos < s.size() && s[pos] == u'[') {
        size_t e = SkipSpace(s, pos + 1);
        while (e < valueEnd && s[e] != u']') {
          const size_t end = SkipValue(s, e);
          spans.emplace_back(e, end);
          e = SkipSpace(s, end);
          if (e < valueEnd && s[e] == u',') e = SkipSpace(s, e + 1);
        }
      }
    }
    pos = SkipSpace(s, valueEnd);
    if (pos < s.size() && s[pos] == u',') pos = SkipSpace(s, pos + 1);
  }
  return spans;
}

}  // namespace

std::string JsonFeedUtf8(std::u16string_view text) {
  std::string json = Utf16ToUtf8(text);
  ReplaceLoneSurrogates(json);
  return json;
}

bool LooksLikeJson(std::u16string_view text) {
  const size_t first = FirstJsonUnit(text);
  return first < text.size() && text[first] == u'{';
}

std::optional<JsonFeedDocument> ParseJsonFeed(std::u16string_view text) {
  if (!LooksLikeJson(text)) return std::nullopt;
  const Json root = ParseJson(text);
  if (!root.is_object()) return std::nullopt;
  JsonFeedDocument feed;
  feed.version = StringMember(root, "version");
  if (!IsJsonFeedVersion(feed.version)) return std::nullopt;
  feed.title = StringMember(root, "title");
  const auto items = root.find("items");
  if (items == root.end() || !items->is_array()) return feed;
  const auto spans = ItemSpans(text);
  for (size_t n = 0; n < items->size(); ++n) {
    const Json& item = (*items)[n];
    if (!item.is_object()) continue;
    JsonFeedItem out;
    out.id = IdMember(item);
    out.url = StringMember(item, "url");
    out.externalUrl = StringMember(item, "external_url");
    out.title = StringMember(item, "title");
    out.contentHtml = StringMember(item, "content_html");
    out.contentText = StringMember(item, "content_text");
    out.summary = StringMember(item, "summary");
    out.datePublished = StringMember(item, "date_published");
    out.dateModified = StringMember(item, "date_modified");
    if (n < spans.size()) {
      out.markupBegin = spans[n].first;
      out.markupEnd = spans[n].second;
    }
    feed.items.push_back(std::move(out));
  }
  return feed;
}

std::vector<JsonFeedAttachment> JsonFeedAttachments(std::u16string_view itemJson) {
  std::vector<JsonFeedAttachment> out;
  if (!LooksLikeJson(itemJson)) return out;
  const Json item = ParseJson(itemJson);
  if (!item.is_object()) return out;
  const auto list = item.find("attachments");
  if (list == item.end() || !list->is_array()) return out;
  for (const Json& a : *list) {
    if (!a.is_object()) continue;
    JsonFeedAttachment attachment;
    attachment.url = StringMember(a, "url");
    if (attachment.url.empty()) continue;
    attachment.mimeType = StringMember(a, "mime_type");
    attachment.title = StringMember(a, "title");
    const auto size = a.find("size_in_bytes");
    if (size != a.end() && size->is_number_unsigned()) {
      const uint64_t v = size->get<uint64_t>();
      attachment.sizeInBytes = v > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(v);
    } else if (size != a.end() && size->is_number_integer() && size->get<int64_t>() >= 0) {
      attachment.sizeInBytes = size->get<int64_t>();
    } else if (size != a.end() && size->is_number_float() && size->get<double>() >= 0 &&
               size->get<double>() < 9.2e18) {
      attachment.sizeInBytes = static_cast<int64_t>(size->get<double>());
    }
    out.push_back(std::move(attachment));
  }
  return out;
}

}  // namespace qb
