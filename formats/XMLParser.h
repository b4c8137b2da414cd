// A small, tolerant XML parser for feed documents. It never reports an error:
// whatever the text holds ends up in a tree by fixed rules, and the feed
// interpretation simply fails to find the elements it looks for. It knows
// start, end and empty-element tags, quoted attributes, CDATA sections,
// comments and processing instructions, and the entities "&lt;", "&gt;",
// "&amp;" and "&apos;" in element text. It has no notion of namespaces,
// document types, encodings or numeric character references.
//
// Rules that stored data and users rely on:
// - An end tag that does not name the current element opens a new element of
//   that name; an unclosed start tag (say "<br>") nests everything after it.
// - "<!DOCTYPE ...>" is an ordinary start tag, so the document lives inside
//   an element named "!DOCTYPE".
// - Comments and processing instructions become empty elements named with a
//   "!" or "?" in front of their first word. A comment runs to its "-->",
//   whatever ">" it holds; one without that end is cut at its first ">" and
//   then reads as a start tag named "!--".
// - A name ends at XML white space (space, tab, line feed, carriage return).
// - CDATA content arrives in the text unchanged (only the text "&apos;"
//   inside it becomes "'").
// - An element that has children has empty text.
// - An unquoted attribute value drops that attribute and the rest of the tag.
//
// Parsing takes time linear in the text; depth is not limited and nothing
// recurses over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Random.h"
#include "base/SharedText.h"

namespace qb {

class CXMLParser;

// One element (or comment or processing instruction) of a parsed document.
// Nodes, and the texts they return, are owned by the parser and stay valid
// until its next Parse or its destruction.
class CXMLNode {
 public:
  struct Attribute {
    std::u16string_view name;
    std::u16string_view value;
  };

  CXMLNode() = default;

  uint32_t Id() const { return m_id; }
  // 0xFFFFFFFF for the document node.
  uint32_t ParentId() const { return m_parentId; }
  // "?" in front for a processing instruction, "!" for a comment.
  std::u16string_view Name() const { return m_name; }
  // Decoded character content; empty for an element with children or one
  // that was never closed.
  std::u16string_view Text() const { return m_text; }

  // The children ordered by name (ordinal, UTF-16 code units), document
  // order among equal names.
  std::span<const CXMLNode* const> Children() const { return {m_children, m_childCount}; }
  // Sorted by name; a later attribute of the same name replaced the earlier.
  std::span<const Attribute> Attributes() const { return {m_attributes, m_attributeCount}; }

  // Where the node stands in the parsed text, as code-unit offsets: from the
  // "<" of its start tag to just after the ">" of the end tag that closed it
  // (of the tag itself for an empty element, a comment or a processing
  // instruction), or to the end of the text when nothing closed it. The
  // document node spans the whole text. A child lies within its parent, and
  // siblings do not overlap.
  size_t MarkupBegin() const { return m_markupBegin; }
  size_t MarkupEnd() const { return m_markupEnd; }

  // Not an exact lookup: the first child whose name is not less than `name`
  // (so "guid" finds "id" when no name sorts between them). Null only when
  // every child's name sorts before `name`. Moves this node's cursor there.
  const CXMLNode* FindChild(std::u16string_view name) const;
  // The exact lookup: the first child named exactly `name`, or null when no
  // child has that name. Moves the cursor as FindChild does, so
  // FindNextChild(name) walks the others of that name.
  const CXMLNode* FindChildExact(std::u16string_view name) const;
  // The child after the cursor if its name equals `name` exactly, moving the
  // cursor onto it; otherwise null. Walks all children of one name after
  // FindChild(name).
  const CXMLNode* FindNextChild(std::u16string_view name) const;

  // The value exactly as written between the quotes (entities are not
  // decoded); empty when absent.
  std::u16string_view GetAttribute(std::u16string_view name) const;

 private:
  friend class CXMLParser;

  std::u16string_view m_name;
  std::u16string_view m_text;
  const Attribute* m_attributes = nullptr;
  const CXMLNode* const* m_children = nullptr;
  size_t m_markupBegin = 0;
  size_t m_markupEnd = 0;
  uint32_t m_attributeCount = 0;
  uint32_t m_attributeStart = 0;  // in the parser's attribute table, while parsing
  uint32_t m_childCount = 0;
  mutable uint32_t m_cursor = 0;  // index into the children; m_childCount: none
  uint32_t m_id = 0;
  uint32_t m_parentId = 0xFFFFFFFF;
  uint32_t m_parentIndex = 0;  // position of the parent in the parser's table
};

class CXMLParser {
 public:
  // Node identifiers come from the parser's own generator, started at
  // `seed`; nothing outside the parser depends on their values.
  explicit CXMLParser(uint32_t seed = 1);
  CXMLParser(const CXMLParser&) = delete;
  CXMLParser& operator=(const CXMLParser&) = delete;
  ~CXMLParser();

  // Parses a whole document and returns its document node (identifier 0,
  // empty name), whose children are the top-level nodes. Never fails. The
  // parser keeps its own copy of the text. Invalidates the nodes of the
  // previous document.
  const CXMLNode& Parse(std::u16string_view text);
  // The same without the copy: the parser holds on to the shared text.
  const CXMLNode& ParseShared(const SharedText& text);

  // The node with this identifier, or an empty node when there is none.
  const CXMLNode& GetNodeById(uint32_t id) const;

  // Number of nodes in the current document, the document node included.
  size_t NodeCount() const { return m_nodes.size(); }

  // The node's markup in the parsed text (MarkupBegin to MarkupEnd); empty
  // for a node of another parser or document.
  std::u16string_view Markup(const CXMLNode& node) const;

 private:
  class IdSet;
  class TextArena;
  class NameTable;
  struct Pending;
  struct Spare;

  // The buffers of a finished parser are kept for the next one on the same
  // thread (up to a limit), so parsing feed after feed does not return
  // memory to the system and fault it in again each time.
  static Spare& SpareBuffers();
  size_t BufferBytes() const;

  // `tag` is a slice of the text, "<" to ">".
  void ProcessTag(std::u16string_view tag, const Pending& pending);
  // A new node from the inside of a tag, a child of the current node; its
  // markup starts at `begin` and ends at `end`.
  uint32_t AddNode(std::u16string_view inner, char16_t prefix, size_t begin, size_t end);
  // Identifiers, parent identifiers and the children's order.
  void FinishNodes();

  const CXMLNode& ParseText();

  // Attribute values and undecoded texts are views into m_text; decoded
  // texts live in m_arena, names in m_names. Nodes own nothing, so neither building
  // nor freeing a tree allocates per node.
  SharedText m_text;
  std::unique_ptr<TextArena> m_arena;
  std::unique_ptr<NameTable> m_names;  // element names, each stored once
  std::u16string m_scratch;  // joined text of a CDATA mix, while decoding
  std::vector<CXMLNode> m_nodes;  // [0] is the document node
  std::vector<CXMLNode::Attribute> m_attributes;  // every node's, one range each
  std::vector<const CXMLNode*> m_childLinks;  // every node's children, one range each
  std::vector<uint32_t> m_childNext;  // while linking: each node's next free link
  std::vector<uint32_t> m_toSort;     // while linking: nodes with several children
  std::unique_ptr<IdSet> m_ids;  // identifiers in use
  CRandom m_random;
  // (identifier, position) sorted by identifier; built on the first lookup.
  mutable std::vector<std::pair<uint32_t, uint32_t>> m_byId;
  uint32_t m_current = 0;  // index of the element the next tag goes into
};

}  // namespace qb
