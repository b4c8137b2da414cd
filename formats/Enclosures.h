// The files an article comes with (a podcast's episode, an attachment), as
// its own source text names them: RSS "enclosure", Atom link rel="enclosure",
// "media:content" (also inside "media:group"), and a JSON Feed item's
// "attachments". Read when the article page is written, so the data file
// needs nothing of its own for them. Never fails: text that is not one item
// or entry (older data files keep the whole document as every article's
// source text) yields none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

struct Enclosure {
  std::u16string url;    // as written, entities decoded
  std::u16string type;   // a MIME type; empty when not given
  std::u16string title;  // empty when not given
  int64_t length = -1;   // in bytes; -1 when not given
  bool operator==(const Enclosure&) const = default;
};

// The enclosures of one article's source text, in document order, each URL
// once.
std::vector<Enclosure> FindEnclosures(std::u16string_view sourceText);

// "12.3 MB", "512 KB", "900 bytes": a file size as a reader takes it in.
std::u16string FormatFileSize(int64_t bytes);

}  // namespace qb
