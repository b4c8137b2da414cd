// Feed bytes through the whole reading path: decoding (with a charset named
// by the first input byte, as a server might send), the parser and the
// interpretation into a fresh model. Checks that every node's children are in
// ordinal name order (document order among equal names) and lie within its
// markup, and that every article's source text is its own markup, a slice of
// the decoded text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "formats/Interpret.h"
#include "formats/TextDecoding.h"
#include "formats/XMLParser.h"
#include "model/Feed.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckTree(const qb::CXMLParser& parser, const qb::CXMLNode& document, std::u16string_view text) {
  Check(document.MarkupBegin() == 0 && document.MarkupEnd() == text.size());
  std::vector<const qb::CXMLNode*> stack{&document};
  while (!stack.empty()) {
    const qb::CXMLNode& node = *stack.back();
    stack.pop_back();
    const auto children = node.Children();
    for (size_t i = 0; i < children.size(); ++i) {
      const qb::CXMLNode& c = *children[i];
      if (i > 0) {
        const qb::CXMLNode& before = *children[i - 1];
        Check(before.Name() <= c.Name());
        Check(before.Name() != c.Name() || before.MarkupBegin() < c.MarkupBegin());
      }
      Check(c.ParentId() == node.Id());
      Check(node.MarkupBegin() <= c.MarkupBegin() && c.MarkupBegin() < c.MarkupEnd() &&
            c.MarkupEnd() <= node.MarkupEnd());
      const std::u16string_view markup = parser.Markup(c);
      Check(markup.data() == text.data() + c.MarkupBegin() && markup.size() == c.MarkupEnd() - c.MarkupBegin());
      Check(text[c.MarkupBegin()] == u'<');
      stack.push_back(&c);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kCharsets[] = {"",      "utf-8",       "UTF-16",    "utf-16le", "utf-16be",
                                          "latin1", "windows-1252", "koi8-r",    "shift_jis", "no-such-set",
                                          "utf-32", "US-ASCII",     "iso-8859-15"};
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string_view charset;
  if (!bytes.empty()) {
    charset = kCharsets[static_cast<uint8_t>(bytes[0]) % std::size(kCharsets)];
    bytes.remove_prefix(1);
  }
  const qb::SharedText text(qb::DecodeFeedBytes(bytes, charset));

  qb::CXMLParser parser;
  const qb::CXMLNode& document = parser.ParseShared(text);
  CheckTree(parser, document, text.str());

  qb::CFeedsManager manager;
  qb::CFeedSource* source = qb::CModelWriter(manager).NewFeedSource();
  source->m_autoName = size % 2 == 0;
  const bool added = qb::InterpretDocument(manager, *source, text, document, 1);
  Check(added == !source->m_articles.empty());
  for (qb::ObjectId id : source->m_articles) {
    const qb::CFeed* article = manager.GetFeed(id);
    Check(article != nullptr);
    const std::u16string& markup = article->m_sourceText.str();
    Check(!markup.empty() && markup[0] == u'<');
    Check(text.str().find(markup) != std::u16string::npos);
  }
  return 0;
}
