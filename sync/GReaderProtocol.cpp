#include "sync/GReaderProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "base/Text.h"

namespace qb {

namespace {

using Json = nlohmann::json;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Printable ASCII without spaces: what an id or a token may hold, so that it
// can go into a form, a URL and a header unchanged in meaning.
bool IsPlainToken(std::string_view s, size_t maxBytes) {
  if (s.empty() || s.size() > maxBytes) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F;
  });
}

std::string_view TrimAscii(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool IsHexText(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsHex); }

std::string LongId(uint64_t n);

// The long form of hex digits: 16 of them for up to 64 bits (leading
// zeros do not count), all of them, lower case, for more.
std::string FromHex(std::string_view digits) {
  const std::string_view significant = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
  if (significant.size() > 16) return std::string(kItemIdPrefix) + LowerText(digits);
  uint64_t n = 0;
  std::from_chars(significant.data(), significant.data() + significant.size(), n, 16);
  return LongId(n);
}

std::string LongId(uint64_t n) {
  char hex[17];
  std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(n));
  return std::string(kItemIdPrefix) + hex;
}

// Parsed without exceptions; a body that is not valid UTF-8 is read again
// with each bad sequence replaced, so one bad byte in an article does not
// lose the whole answer.
Json ParseJson(std::string_view body) {
  Json json = Json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    const std::string repaired = Utf16ToUtf8(Utf8ToUtf16(body));
    if (repaired != body) json = Json::parse(repaired, nullptr, false);
  }
  return json;
}

const Json* Member(const Json& object, const char* name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

std::string StringOf(const Json& object, const char* name) {
  const Json* v = Member(object, name);
  return v != nullptr && v->is_string() ? v->get<std::string>() : std::string();
}

std::u16string TextOf(const Json& object, const char* name) { return Utf8ToUtf16(StringOf(object, name)); }

// A whole number given as a JSON number or as a string of digits ("123");
// nothing for anything else, fractions and overflow included.
std::optional<int64_t> IntegerOf(const Json* v) {
  if (v == nullptr) return std::nullopt;
  if (v->is_number_unsigned()) {
    const auto u = v->get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (v->is_number_integer()) return v->get<int64_t>();
  if (v->is_string()) {
    const std::string& s = v->get_ref<const std::string&>();
    int64_t n = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec == std::errc() && end == s.data() + s.size() && !s.empty()) return n;
  }
  return std::nullopt;
}

int64_t IntegerOr0(const Json& object, const char* name) { return IntegerOf(Member(object, name)).value_or(0); }

// An id given as a string or as a whole number.
std::string IdOf(const Json& object) {
  const Json* v = Member(object, "id");
  if (v == nullptr) return {};
  if (v->is_string()) return v->get<std::string>();
  if (v->is_number_unsigned() || v->is_number_integer()) return v->dump();
  return {};
}

// The array member `name`, or nothing when it is absent or not an array.
const Json* ArrayOf(const Json& object, const char* name) {
  const Json* v = Member(object, name);
  return v != nullptr && v->is_array() ? v : nullptr;
}

// The first "href" of an array of links, preferring one of type text/html.
std::string FirstHref(const Json& object, const char* name) {
  const Json* links = ArrayOf(object, name);
  if (links == nullptr) return {};
  std::string first;
  for (const Json& link : *links) {
    const std::string href = StringOf(link, "href");
    if (href.empty()) continue;
    const std::string type = StringOf(link, "type");
    if (type.empty() || type == "text/html") return href;
    if (first.empty()) first = href;
  }
  return first;
}

}  // namespace

GReaderBase GReaderApiBase(GReaderServerKind kind, std::string_view address) {
  switch (kind) {
    case GReaderServerKind::kTheOldReader: return {"https://theoldreader.com", {}};
    case GReaderServerKind::kBazQux: return {"https://bazqux.com", {}};
    default: break;
  }
  std::string_view a = TrimAscii(address);
  const std::string lower = LowerText(a);
  const size_t schemeEnd = lower.find("://");
  if (schemeEnd == std::string::npos || (lower.substr(0, schemeEnd) != "http" && lower.substr(0, schemeEnd) != "https")) {
    return {{}, u"The address must start with http:// or https://."};
  }
  if (!std::all_of(a.begin(), a.end(), [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7F; })) {
    return {{}, u"The address may not contain spaces or control characters."};
  }
  if (a.find_first_of("?#") != std::string_view::npos) {
    return {{}, u"The address may not have a query or a fragment."};
  }
  const std::string_view rest = a.substr(schemeEnd + 3);
  const std::string_view authority = rest.substr(0, rest.find('/'));
  if (authority.find('@') != std::string_view::npos) {
    return {{}, u"Give the user name and password separately, not in the address."};
  }
  if (authority.empty() || authority.front() == ':') return {{}, u"The address has no host name."};
  std::string url(a);
  while (EndsWith(url, "/")) url.pop_back();
  if (kind == GReaderServerKind::kFreshRss) {
    // The address of the web interface ("/i") and the API's own address
    // both lead to the API.
    if (EndsWith(LowerText(url), "/i")) url.resize(url.size() - 2);
    if (!EndsWith(LowerText(url), "/api/greader.php")) url += "/api/greader.php";
  }
  return {std::move(url), {}};
}

std::string NormalizeItemId(std::string_view id) {
  if (!IsPlainToken(id, kMaxItemIdBytes)) return {};
  if (StartsWith(id, kItemIdPrefix)) {
    const std::string_view digits = id.substr(kItemIdPrefix.size());
    return IsHexText(digits) ? FromHex(digits) : std::string(id);
  }
  // The short form: decimal, signed (or, as some servers write it, the
  // same 64 bits unsigned).
  if (id.front() == '-') {
    int64_t n = 0;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), n);
    if (ec == std::errc() && end == id.data() + id.size()) return LongId(static_cast<uint64_t>(n));
    return std::string(id);
  }
  uint64_t n = 0;
  const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), n);
  if (ec == std::errc() && end == id.data() + id.size()) return LongId(n);
  // Bare hex digits, and digits too many for 64 bits, which can only be
  // hex (The Old Reader's ids may happen to hold no letter).
  return IsHexText(id) ? FromHex(id) : std::string(id);
}

std::optional<int64_t> ShortItemId(std::string_view normalized) {
  if (!StartsWith(normalized, kItemIdPrefix) || normalized.size() != kItemIdPrefix.size() + 16) {
    return std::nullopt;
  }
  const std::string_view hex = normalized.substr(kItemIdPrefix.size());
  uint64_t n = 0;
  const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), n, 16);
  if (ec != std::errc() || end != hex.data() + hex.size()) return std::nullopt;
  return static_cast<int64_t>(n);
}

std::string LabelStream(std::u16string_view name) { return "user/-/label/" + Utf16ToUtf8(name); }

std::optional<std::u16string> LabelOf(std::string_view stream) {
  if (!StartsWith(stream, "user/")) return std::nullopt;
  const size_t slash = stream.find('/', 5);
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view rest = stream.substr(slash);
  if (!StartsWith(rest, "/label/") || rest.size() == 7) return std::nullopt;
  return Utf8ToUtf16(rest.substr(7));
}

bool IsStateStream(std::string_view stream, std::string_view state) {
  if (!StartsWith(stream, "user/")) return false;
  const size_t slash = stream.find('/', 5);
  if (slash == std::string_view::npos) return false;
  const std::string_view rest = stream.substr(slash);
  return StartsWith(rest, "/state/com.google/") && rest.substr(18) == state;
}

std::string FormEncode(const FormFields& fields) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    for (const std::string* part : {&name, &value}) {
      for (const char c : *part) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
          out += c;
        } else {
          out += '%';
          out += kHex[u >> 4];
          out += kHex[u & 15];
        }
      }
      if (part == &name) out += '=';
    }
  }
  return out;
}

std::optional<std::string> ParseClientLogin(std::string_view body) {
  std::string auth;
  const Json json = ParseJson(body);
  if (json.is_object()) {
    auth = StringOf(json, "Auth");
  } else {
    size_t pos = 0;
    while (pos < body.size()) {
      size_t end = body.find('\n', pos);
      if (end == std::string_view::npos) end = body.size();
      const std::string_view line = TrimAscii(body.substr(pos, end - pos));
      if (StartsWith(line, "Auth=")) auth = std::string(line.substr(5));
      pos = end + 1;
    }
  }
  if (!IsPlainToken(auth, 1024)) return std::nullopt;
  return auth;
}

std::optional<std::string> ParseEditToken(std::string_view body) {
  const std::string_view token = TrimAscii(body);
  if (!IsPlainToken(token, 1024)) return std::nullopt;
  return std::string(token);
}

std::optional<std::u16string> ParseUserName(std::string_view body) {
  const Json json = ParseJson(body);
  if (!json.is_object()) return std::nullopt;
  const Json* name = Member(json, "userName");
  if (name == nullptr || !name->is_string()) return std::nullopt;
  return Utf8ToUtf16(name->get<std::string>());
}

std::optional<std::vector<GReaderFolder>> ParseTagList(std::string_view body) {
  const Json json = ParseJson(body);
  const Json* tags = ArrayOf(json, "tags");
  if (tags == nullptr) return std::nullopt;
  std::vector<GReaderFolder> folders;
  for (const Json& tag : *tags) {
    const std::string id = IdOf(tag);
    const std::optional<std::u16string> name = LabelOf(id);
    const std::string type = StringOf(tag, "type");
    if (!name || !(type.empty() || type == "folder")) continue;
    folders.push_back({id, *name});
  }
  return folders;
}

std::optional<std::vector<GReaderSubscription>> ParseSubscriptionList(std::string_view body) {
  const Json json = ParseJson(body);
  const Json* list = ArrayOf(json, "subscriptions");
  if (list == nullptr) return std::nullopt;
  std::vector<GReaderSubscription> subscriptions;
  for (const Json& s : *list) {
    GReaderSubscription sub;
    sub.id = IdOf(s);
    if (!IsPlainToken(sub.id, 4096)) continue;
    sub.title = TextOf(s, "title");
    sub.url = StringOf(s, "url");
    sub.htmlUrl = StringOf(s, "htmlUrl");
    sub.iconUrl = StringOf(s, "iconUrl");
    if (const Json* categories = ArrayOf(s, "categories")) {
      for (const Json& c : *categories) {
        const std::string id = IdOf(c);
        if (LabelOf(id)) sub.folders.push_back(id);
      }
    }
    subscriptions.push_back(std::move(sub));
  }
  return subscriptions;
}

std::optional<std::map<std::string, int64_t>> ParseUnreadCounts(std::string_view body) {
  const Json json = ParseJson(body);
  const Json* list = ArrayOf(json, "unreadcounts");
  if (list == nullptr) return std::nullopt;
  std::map<std::string, int64_t> counts;
  for (const Json& entry : *list) {
    const std::string id = IdOf(entry);
    const std::optional<int64_t> count = IntegerOf(Member(entry, "count"));
    if (!id.empty() && count && *count >= 0) counts[id] = *count;
  }
  return counts;
}

std::optional<GReaderIdsPage> ParseItemIds(std::string_view body) {
  const Json json = ParseJson(body);
  if (!json.is_object()) return std::nullopt;
  GReaderIdsPage page;
  // An empty stream may come without "itemRefs" at all.
  if (const Json* refs = Member(json, "itemRefs"); refs != nullptr && !refs->is_null()) {
    if (!refs->is_array()) return std::nullopt;
    for (const Json& ref : *refs) {
      std::string id = NormalizeItemId(IdOf(ref));
      if (!id.empty()) page.ids.push_back(std::move(id));
    }
  }
  // Opaque, but a number is the same token written without quotes.
  const Json* continuation = Member(json, "continuation");
  if (continuation != nullptr) {
    if (continuation->is_string()) {
      page.continuation = continuation->get<std::string>();
    } else if (continuation->is_number_integer() || continuation->is_number_unsigned()) {
      page.continuation = continuation->dump();
    }
  }
  if (!page.continuation.empty() && !IsPlainToken(page.continuation, 1024)) return std::nullopt;
  return page;
}

std::optional<std::vector<GReaderItem>> ParseItems(std::string_view body) {
  const Json json = ParseJson(body);
  const Json* list = ArrayOf(json, "items");
  if (list == nullptr) return std::nullopt;
  std::vector<GReaderItem> items;
  items.reserve(list->size());
  for (const Json& entry : *list) {
    GReaderItem item;
    item.id = NormalizeItemId(IdOf(entry));
    if (item.id.empty()) continue;
    item.title = TextOf(entry, "title");
    std::string link = FirstHref(entry, "alternate");
    if (link.empty()) link = FirstHref(entry, "canonical");
    item.link = Utf8ToUtf16(link);
    item.author = TextOf(entry, "author");
    if (const Json* content = Member(entry, "content")) item.content = TextOf(*content, "content");
    if (item.content.empty()) {
      if (const Json* summary = Member(entry, "summary")) item.content = TextOf(*summary, "content");
    }
    item.published = IntegerOr0(entry, "published");
    item.updated = IntegerOr0(entry, "updated");
    item.crawledUsec = IntegerOr0(entry, "timestampUsec");
    if (item.crawledUsec == 0) {
      const int64_t ms = IntegerOr0(entry, "crawlTimeMsec");
      if (ms > 0 && ms < INT64_MAX / 1000) item.crawledUsec = ms * 1000;
    }
    if (const Json* origin = Member(entry, "origin")) item.streamId = StringOf(*origin, "streamId");
    if (const Json* categories = ArrayOf(entry, "categories")) {
      for (const Json& c : *categories) {
        if (!c.is_string()) continue;
        const std::string& category = c.get_ref<const std::string&>();
        if (IsStateStream(category, "read")) item.read = true;
        if (IsStateStream(category, "starred")) item.starred = true;
      }
    }
    if (const Json* enclosures = ArrayOf(entry, "enclosure")) {
      for (const Json& e : *enclosures) {
        std::string href = StringOf(e, "href");
        if (!href.empty()) item.enclosures.push_back(std::move(href));
      }
    }
    items.push_back(std::move(item));
  }
  return items;
}

std::optional<GReaderQuickAdd> ParseQuickAdd(std::string_view body) {
  const Json json = ParseJson(body);
  if (!json.is_object()) return std::nullopt;
  GReaderQuickAdd added;
  added.streamId = StringOf(json, "streamId");
  added.name = TextOf(json, "streamName");
  added.error = TextOf(json, "error");
  const std::optional<int64_t> results = IntegerOf(Member(json, "numResults"));
  if (!results || *results < 1 || !IsPlainToken(added.streamId, 4096)) added.streamId.clear();
  return added;
}

bool IsOk(std::string_view body) { return TrimAscii(body) == "OK"; }

std::u16string ServerReason(std::string_view body, std::string_view contentType) {
  const std::string type = LowerText(contentType);
  std::string reason;
  if (type.find("json") != std::string::npos || (!body.empty() && TrimAscii(body).front() == '{')) {
    const Json json = ParseJson(body);
    reason = StringOf(json, "error_message");
    if (reason.empty()) reason = StringOf(json, "error");
  }
  if (reason.empty() && (type.empty() || StartsWith(type, "text/plain")) && body.size() <= 1024) {
    std::string_view first = TrimAscii(body);
    first = first.substr(0, first.find('\n'));
    if (StartsWith(first, "Error=")) first.remove_prefix(6);
    reason = std::string(TrimAscii(first));
  }
  std::u16string text = Utf8ToUtf16(reason.substr(0, 200));
  std::erase_if(text, [](char16_t c) { return c < 0x20 || c == 0x7F; });
  return text;
}

}  // namespace qb
