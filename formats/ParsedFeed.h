// A feed document parsed and ready to be interpreted: the first of the two
// steps of reading a download. ParseFeed needs nothing but the text, touches
// no model and shares nothing with other calls, so it may run on any
// thread; the result is moved to the owner's thread, where InterpretFeed
// (formats/Interpret.h) turns it into articles of a source.
#pragma once

#include <memory>

#include "base/SharedText.h"
#include "formats/JsonFeed.h"
#include "formats/XMLParser.h"

namespace qb {

class CParsedFeed {
 public:
  enum class Format {
    kXml,       // the element tree of an XML document (RSS, Atom, or anything else)
    kJsonFeed,  // the items of a JSON Feed
  };

  // An empty XML document (no elements): understood as nothing.
  CParsedFeed();
  CParsedFeed(CParsedFeed&&) noexcept;
  CParsedFeed& operator=(CParsedFeed&&) noexcept;
  CParsedFeed(const CParsedFeed&) = delete;
  CParsedFeed& operator=(const CParsedFeed&) = delete;
  ~CParsedFeed();

  Format GetFormat() const { return m_json ? Format::kJsonFeed : Format::kXml; }
  // The decoded text everything here was read from.
  const SharedText& Text() const { return m_text; }
  // The document node of the element tree; for a JSON Feed an empty node.
  // Owned by this object, valid while it lives (also across moves).
  const CXMLNode& Document() const;
  // The JSON Feed, or null for an XML document.
  const JsonFeedDocument* JsonFeed() const { return m_json.get(); }

 private:
  friend CParsedFeed ParseFeed(const SharedText& text);

  SharedText m_text;
  std::unique_ptr<CXMLParser> m_parser;  // null for a JSON Feed
  const CXMLNode* m_document = nullptr;
  std::unique_ptr<JsonFeedDocument> m_json;
};

// A text whose first character (after white space and a byte-order mark)
// is "{" and that reads as a JSON Feed becomes one, whatever it was served
// as; every other text is parsed by CXMLParser (so malformed JSON yields a
// tree without a feed in it). Never fails; thread-safe.
CParsedFeed ParseFeed(const SharedText& text);

}  // namespace qb
