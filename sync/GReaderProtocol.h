// The Google Reader API as feed services serve it (FreshRSS, Miniflux, The
// Old Reader, BazQux and others): where a service keeps it, the forms of its
// identifiers, and what its answers mean. Pure functions on text; nothing
// here touches the network or the feed model, and nothing throws (other
// than std::bad_alloc). CGReaderClient (sync/GReaderClient.h) speaks it.
//
// Answers are read leniently but checked: a value of the wrong type counts
// as absent, an entry without a usable id is left out, and an answer whose
// overall shape is wrong (not JSON, truncated, not the object the call
// answers with) is no answer at all (std::nullopt), so that a broken or
// hostile server can never make a sync take "nothing listed" for "nothing
// there".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

enum class GReaderServerKind {
  kFreshRss,      // the server's own address; the API is <address>/api/greader.php
  kMiniflux,      // the server's own address, which is the API's base
  kTheOldReader,  // hosted: the address is fixed
  kBazQux,        // hosted: the address is fixed
  kOther,         // the API's own base, where accounts/ClientLogin and reader/api/0 are
};

// The API's base URL (no trailing slash) for a kind of server and the
// address the user gave (ignored for the hosted kinds), or the reason the
// address cannot be one: only absolute http and https addresses with a
// host, without a user name or password in them, a query or a fragment.
struct GReaderBase {
  std::string url;
  std::u16string problem;  // empty when `url` is usable
};
GReaderBase GReaderApiBase(GReaderServerKind kind, std::string_view address);

// Item ids come in two forms that name the same 64-bit number: the long
// form "tag:google.com,2005:reader/item/" and 16 hex digits, and the short
// form, the number in decimal read as signed (stream/items/ids answers with
// it). Servers also send fewer hex digits or the bare hex digits. Every
// form becomes the long one with 16 lower-case digits, the only form kept
// and sent back (every server takes it). An id of more hex digits than 64
// bits hold (The Old Reader's are 24) keeps its digits, lower case, in the
// long form; any other text that could be an id (printable, no spaces, at
// most kMaxItemIdBytes) is kept as it is. Empty for text that cannot be an
// id. Digits alone are decimal, as servers send them.
inline constexpr std::string_view kItemIdPrefix = "tag:google.com,2005:reader/item/";
inline constexpr size_t kMaxItemIdBytes = 256;
std::string NormalizeItemId(std::string_view id);
// The short form of a normalised 64-bit id, or nothing for other ids.
std::optional<int64_t> ShortItemId(std::string_view normalized);

// Streams.
inline constexpr char kReadingListStream[] = "user/-/state/com.google/reading-list";
inline constexpr char kReadStream[] = "user/-/state/com.google/read";
inline constexpr char kStarredStream[] = "user/-/state/com.google/starred";
// "user/-/label/<name>" for a folder's name.
std::string LabelStream(std::u16string_view name);
// The folder name of "user/<anyone>/label/<name>", or nothing.
std::optional<std::u16string> LabelOf(std::string_view stream);
// Whether the stream is "user/<anyone>/state/com.google/<state>".
bool IsStateStream(std::string_view stream, std::string_view state);

// application/x-www-form-urlencoded, also for query strings: every byte
// but the unreserved ones (letters, digits, "-._~") percent-encoded.
using FormFields = std::vector<std::pair<std::string, std::string>>;
std::string FormEncode(const FormFields& fields);

struct GReaderFolder {
  std::string id;       // "user/-/label/News" as the server writes it
  std::u16string name;  // "News"
};

struct GReaderSubscription {
  std::string id;  // "feed/42", opaque
  std::u16string title;
  std::string url;      // the feed's own address
  std::string htmlUrl;  // its site
  std::string iconUrl;
  std::vector<std::string> folders;  // label stream ids, as written
};

// One item of stream/items/contents, the values an article is made of.
struct GReaderItem {
  std::string id;        // normalised (NormalizeItemId)
  std::string streamId;  // the subscription it came from ("feed/42")
  std::u16string title;
  std::u16string link;
  std::u16string author;
  std::u16string content;  // HTML: the content, else the summary
  int64_t published = 0;   // seconds since 1970 UTC, 0 when not given
  int64_t updated = 0;
  int64_t crawledUsec = 0;  // when the server first saw it
  bool read = false;
  bool starred = false;
  std::vector<std::string> enclosures;  // their addresses
};

struct GReaderIdsPage {
  std::vector<std::string> ids;  // normalised, in the server's order
  std::string continuation;      // opaque; empty on the last page
};

// ClientLogin's "Auth=" (lines of "Key=value", or the same as JSON); nothing
// when absent or not a value a header can carry.
std::optional<std::string> ParseClientLogin(std::string_view body);
// The edit token (the whole answer, trimmed), checked the same way.
std::optional<std::string> ParseEditToken(std::string_view body);
// user-info's "userName".
std::optional<std::u16string> ParseUserName(std::string_view body);
// tag/list: the folders (labels of type "folder", or of no type).
std::optional<std::vector<GReaderFolder>> ParseTagList(std::string_view body);
std::optional<std::vector<GReaderSubscription>> ParseSubscriptionList(std::string_view body);
// unread-count: per stream id, its unread count.
std::optional<std::map<std::string, int64_t>> ParseUnreadCounts(std::string_view body);
std::optional<GReaderIdsPage> ParseItemIds(std::string_view body);
std::optional<std::vector<GReaderItem>> ParseItems(std::string_view body);
// quickadd: the new subscription's stream id and name, or the server's
// reason (possibly empty) for adding none.
struct GReaderQuickAdd {
  std::string streamId;
  std::u16string name;
  std::u16string error;
};
std::optional<GReaderQuickAdd> ParseQuickAdd(std::string_view body);
// Whether a write was acknowledged: the answer is "OK".
bool IsOk(std::string_view body);
// The reason a server gives with a refusal or an error, for the user: the
// "error_message" or "error" of a JSON answer, "Error=" of a ClientLogin
// answer, or the first line of a short plain-text answer; empty for
// anything else (an HTML page says nothing a user should read here).
std::u16string ServerReason(std::string_view body, std::string_view contentType);

}  // namespace qb
