#include "formats/ParsedFeed.h"

namespace qb {

CParsedFeed::CParsedFeed() = default;
CParsedFeed::CParsedFeed(CParsedFeed&&) noexcept = default;
CParsedFeed& CParsedFeed::operator=(CParsedFeed&&) noexcept = default;
CParsedFeed::~CParsedFeed() = default;

const CXMLNode& CParsedFeed::Document() const {
  static const CXMLNode empty;
  return m_document != nullptr ? *m_document : empty;
}

CParsedFeed ParseFeed(const SharedText& text) {
  CParsedFeed parsed;
  parsed.m_text = text;
  if (LooksLikeJson(text.str())) {
    if (std::optional<JsonFeedDocument> json = ParseJsonFeed(text.str())) {
      parsed.m_json = std::make_unique<JsonFeedDocument>(std::move(*json));
      return parsed;
    }
  }
  parsed.m_parser = std::make_unique<CXMLParser>();
  parsed.m_document = &parsed.m_parser->ParseShared(text);
  return parsed;
}

}  // namespace qb
