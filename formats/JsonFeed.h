// JSON Feed documents (versions 1.0 and 1.1): a JSON object whose "version"
// is a URL of the form "https://jsonfeed.org/version/1.1", with the feed's
// "title" and its "items". The JSON itself is read by nlohmann-json; this
// takes out what the interpretation and the article page use. Values of
// the wrong type count as absent. Nothing here throws (other than
// std::bad_alloc) or recurses over the depth of the document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

struct JsonFeedItem {
  std::u16string id;  // a string, or a number written out ("42")
  std::u16string url;
  std::u16string externalUrl;
  std::u16string title;
  std::u16string contentHtml;
  std::u16string contentText;
  std::u16string summary;
  std::u16string datePublished;
  std::u16string dateModified;
  // The item's own JSON, from its "{" through its "}", as code-unit offsets
  // into the text it was read from.
  size_t markupBegin = 0;
  size_t markupEnd = 0;
};

struct JsonFeedDocument {
  std::u16string version;
  std::u16string title;
  // The items that are JSON objects, in document order.
  std::vector<JsonFeedItem> items;
};

struct JsonFeedAttachment {
  std::u16string url;
  std::u16string mimeType;
  std::u16string title;
  int64_t sizeInBytes = -1;  // -1: not given
};

// Whether the text, after white space and a byte-order mark, starts with
// "{": the only texts ParseJsonFeed can accept.
bool LooksLikeJson(std::u16string_view text);

// The feed, or nothing when the text is not well-formed JSON, not an
// object, or its "version" is not a JSON Feed version URL (http or https,
// "jsonfeed.org/version/" and a version). Duplicate names in an object:
// the last one counts. Half of a surrogate pair escaped alone ("\ud83d", a
// cut emoji) reads as U+FFFD.
std::optional<JsonFeedDocument> ParseJsonFeed(std::u16string_view text);

// JSON text as UTF-8, the way ParseJsonFeed reads it: a half of a surrogate
// pair escaped alone becomes "\ufffd", so that a JSON parser takes it.
std::string JsonFeedUtf8(std::u16string_view text);

// The "attachments" of one item, given the item's own JSON (its source
// text); those without a "url" are left out. Empty for text that is not a
// JSON object.
std::vector<JsonFeedAttachment> JsonFeedAttachments(std::u16string_view itemJson);

}  // namespace qb
