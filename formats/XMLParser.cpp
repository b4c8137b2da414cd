#include "formats/XMLParser.h"

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "base/Text.h"
#include "formats/Markup.h"

namespace qb {
namespace {

constexpr uint32_t kNoParent = 0xFFFFFFFF;

constexpr std::u16string_view kAposEntity = u"&apos;";

const CXMLNode& EmptyNode() {
  static const CXMLNode empty;
  return empty;
}

inline bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

inline bool EndsWith(std::u16string_view s, std::u16string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The first `c` `c` ">" ("]]>", "-->") at or after `pos`, or npos.
size_t FindCloser(std::u16string_view text, size_t pos, char16_t c) {
  for (size_t p = FindCodeUnit(text, u'>', pos); p != std::u16string_view::npos;
       p = FindCodeUnit(text, u'>', p + 1)) {
    if (p >= pos + 2 && text[p - 1] == c && text[p - 2] == c) return p - 2;
  }
  return std::u16string_view::npos;
}

// TrimView with a quick answer for the printable ASCII that tags are made of.
inline bool IsSpace(char16_t c) { return (c > 0x20 && c < 0x7F) ? false : IsWideSpace(c); }
inline std::u16string_view Trimmed(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

inline bool IsXmlSpace(char16_t c) { return c <= u' ' && (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'); }

// The element name: the leading run up to XML white space (space, tab, line
// feed, carriage return), so "<item\nid='1'>" is an item.
std::u16string_view TagName(std::u16string_view trimmed, std::u16string_view* rest) {
  size_t k = 0;
  while (k < trimmed.size() && !IsXmlSpace(trimmed[k])) ++k;
  if (rest != nullptr) *rest = Trimmed(trimmed.substr(k));
  return Trimmed(trimmed.substr(0, k));
}

}  // namespace

// The node identifiers in use: open addressing over a power-of-two array of
// four-byte slots, small enough to stay in cache while a large document is
// parsed. Identifier 0 (the document node) is never stored, so 0 marks an
// empty slot.
class CXMLParser::IdSet {
 public:
  void Reset(size_t expected) {
    size_t size = 1024;
    while (size < expected * 2) size *= 2;
    m_slots.assign(size, 0);
    m_mask = size - 1;
    m_count = 0;
  }

  // False when the identifier was already in the set.
  bool Insert(uint32_t id) {
    size_t i = Home(id);
    for (; m_slots[i] != 0; i = (i + 1) & m_mask) {
      if (m_slots[i] == id) return false;
    }
    if ((m_count + 1) * 2 > m_slots.size()) {
      Grow();
      return Insert(id);
    }
    m_slots[i] = id;
    ++m_count;
    return true;
  }

  void Prefetch(uint32_t id) const { __builtin_prefetch(&m_slots[Home(id)]); }

  size_t Bytes() const { return m_slots.capacity() * sizeof(uint32_t); }

 private:
  size_t Home(uint32_t id) const { return (static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull >> 32) & m_mask; }

  void Grow() {
    const std::vector<uint32_t> old = std::move(m_slots);
    Reset(old.size());
    for (uint32_t id : old) {
      if (id != 0) Insert(id);
    }
  }

  std::vector<uint32_t> m_slots;
  size_t m_mask = 0;
  size_t m_count = 0;
};

// Decoded texts. Blocks are never moved, so views into them stay valid until
// the next Parse.
class CXMLParser::TextArena {
 public:
  // Forgets the texts but keeps the blocks for the next document.
  void Clear() {
    m_block = 0;
    m_used = 0;
  }

  // Room for `size` code units; Commit tells how many were used.
  char16_t* Reserve(size_t size) {
    while (m_block < m_blocks.size() && m_blocks[m_block].size - m_used < size) {
      ++m_block;
      m_used = 0;
    }
    if (m_block == m_blocks.size()) {
      const size_t blockSize = std::max<size_t>(size, kBlockSize);
      m_blocks.push_back({std::unique_ptr<char16_t[]>(new char16_t[blockSize]), blockSize});
      m_used = 0;
    }
    return m_blocks[m_block].data.get() + m_used;
  }
  std::u16string_view Commit(size_t used) {
    const std::u16string_view text(m_blocks[m_block].data.get() + m_used, used);
    m_used += used;
    return text;
  }

  size_t Bytes() const {
    size_t total = 0;
    for (const Block& b : m_blocks) total += b.size * sizeof(char16_t);
    return total;
  }

 private:
  static constexpr size_t kBlockSize = 1 << 15;
  struct Block {
    std::unique_ptr<char16_t[]> data;
    size_t size;
  };
  std::vector<Block> m_blocks;
  size_t m_block = 0;  // the block being filled
  size_t m_used = 0;   // units used in it
};

// Element names, each distinct name stored once. A document has few distinct
// names, so they stay in cache while children are sorted and looked up, and
// equal names are recognised by their address.
class CXMLParser::NameTable {
 public:
  void Clear() {
    m_index.clear();
    m_store.Clear();
    for (std::u16string_view& r : m_recent) r = {};
  }

  std::u16string_view Intern(std::u16string_view name, char16_t prefix) {
    if (prefix != 0) {
      m_prefixed.assign(1, prefix);
      m_prefixed.append(name);
      name = m_prefixed;
    }
    // Most names repeat the recent ones: a small direct-mapped cache in
    // front of the set answers them without hashing the whole name.
    std::u16string_view& cached = m_recent[name.empty() ? 0 : (name.size() * 31 + name[0] * 7 + name.back()) & 255];
    if (cached.size() == name.size() && cached == name && !name.empty()) return cached;
    const auto it = m_index.find(name);
    if (it != m_index.end()) return cached = *it;
    char16_t* out = m_store.Reserve(name.size());
    std::copy(name.begin(), name.end(), out);
    const std::u16string_view stored = m_store.Commit(name.size());
    m_index.insert(stored);
    return cached = stored;
  }

  size_t Bytes() const { return m_store.Bytes() + m_index.size() * 32; }

 private:
  struct Hash {
    size_t operator()(std::u16string_view s) const noexcept {
      uint64_t h = 0xCBF29CE484222325ull;
      for (char16_t c : s) h = (h ^ c) * 0x100000001B3ull;
      return static_cast<size_t>(h);
    }
  };
  std::unordered_set<std::u16string_view, Hash> m_index;  // views into m_store
  std::u16string_view m_recent[256];
  TextArena m_store;
  std::u16string m_prefixed;
};

struct CXMLParser::Spare {
  std::unique_ptr<TextArena> arena;  // null: nothing kept
  std::unique_ptr<NameTable> names;
  std::unique_ptr<IdSet> ids;
  std::u16string scratch;
  std::vector<CXMLNode> nodes;
  std::vector<CXMLNode::Attribute> attributes;
  std::vector<const CXMLNode*> childLinks;
  std::vector<uint32_t> childNext;
  std::vector<uint32_t> toSort;
};

CXMLParser::Spare& CXMLParser::SpareBuffers() {
  thread_local Spare spare;
  return spare;
}

// The character data collected before a tag: ordinary text and CDATA content,
// kept as slices of the document until an end tag needs them.
struct CXMLParser::Pending {
  struct Segment {
    std::u16string_view text;
    bool cdata;
  };
  std::vector<Segment> segments;
  bool hasCdata = false;

  void Clear() {
    segments.clear();
    hasCdata = false;
  }
  void Add(std::u16string_view text, bool cdata) {
    if (text.empty()) return;
    segments.push_back({text, cdata});
    hasCdata = hasCdata || cdata;
  }

  // CDATA content is entity-encoded as it is collected and the whole text
  // decoded when stored, so CDATA arrives unchanged while entities of the
  // ordinary text are decoded. The result is computed without the round
  // where it is known: a single slice with nothing to decode is the text
  // itself.
  std::u16string_view Decoded(TextArena& arena, std::u16string& scratch) const {
    if (segments.empty()) return {};
    if (segments.size() == 1) {
      const std::u16string_view text = segments[0].text;
      if (!hasCdata) {
        if (FindCodeUnit(text, u'&') == std::u16string_view::npos) return text;
        return arena.Commit(DecodeEntitiesInto(text, arena.Reserve(text.size())));
      }
      // Decoding what was just encoded gives the text back, except that the
      // text "&apos;" (encoded "&amp;apos;") comes back as "'".
      if (text.find(kAposEntity) == std::u16string_view::npos) return text;
      return ApostrophesDecoded(text, arena);
    }
    // Decoding runs over the joined text, because an entity may straddle the
    // border of a CDATA section.
    scratch.clear();
    for (const Segment& s : segments) {
      if (s.cdata) {
        scratch += EncodeEntities(s.text);
      } else {
        scratch += s.text;
      }
    }
    return arena.Commit(DecodeEntitiesInto(scratch, arena.Reserve(scratch.size())));
  }

  static std::u16string_view ApostrophesDecoded(std::u16string_view text, TextArena& arena) {
    char16_t* out = arena.Reserve(text.size());
    size_t used = 0;
    size_t i = 0;
    for (size_t p = text.find(kAposEntity); p != std::u16string_view::npos; p = text.find(kAposEntity, i)) {
      std::copy(text.begin() + i, text.begin() + p, out + used);
      used += p - i;
      out[used++] = u'\'';
      i = p + kAposEntity.size();
    }
    std::copy(text.begin() + i, text.end(), out + used);
    used += text.size() - i;
    return arena.Commit(used);
  }
};

const CXMLNode* CXMLNode::FindChild(std::u16string_view name) const {
  const CXMLNode* const* end = m_children + m_childCount;
  const CXMLNode* const* it = std::lower_bound(
      m_children, end, name, [](const CXMLNode* child, std::u16string_view n) { return child->m_name < n; });
  m_cursor = static_cast<uint32_t>(it - m_children);
  return it == end ? nullptr : *it;
}

const CXMLNode* CXMLNode::FindChildExact(std::u16string_view name) const {
  const CXMLNode* child = FindChild(name);
  return child != nullptr && child->m_name == name ? child : nullptr;
}

const CXMLNode* CXMLNode::FindNextChild(std::u16string_view name) const {
  if (m_cursor >= m_childCount) return nullptr;
  const uint32_t next = m_cursor + 1;
  if (next >= m_childCount || m_children[next]->m_name != name) return nullptr;
  m_cursor = next;
  return m_children[next];
}

std::u16string_view CXMLNode::GetAttribute(std::u16string_view name) const {
  const Attribute* end = m_attributes + m_attributeCount;
  const Attribute* it =
      std::lower_bound(m_attributes, end, name, [](const Attribute& a, std::u16string_view n) { return a.name < n; });
  if (it != end && it->name == name) return it->value;
  return {};
}

CXMLParser::CXMLParser(uint32_t seed) : m_random(seed) {
  Spare& spare = SpareBuffers();
  if (spare.arena) {
    m_arena = std::move(spare.arena);
    m_names = std::move(spare.names);
    m_ids = std::move(spare.ids);
    m_scratch.swap(spare.scratch);
    m_nodes.swap(spare.nodes);
    m_attributes.swap(spare.attributes);
    m_childLinks.swap(spare.childLinks);
    m_childNext.swap(spare.childNext);
    m_toSort.swap(spare.toSort);
  } else {
    m_arena = std::make_unique<TextArena>();
    m_names = std::make_unique<NameTable>();
    m_ids = std::make_unique<IdSet>();
  }
}

CXMLParser::~CXMLParser() {
  // Kept only while they are moderate: a huge document's buffers go back to
  // the system.
  constexpr size_t kKeepLimit = size_t{32} << 20;
  Spare& spare = SpareBuffers();
  if (spare.arena || BufferBytes() > kKeepLimit) return;
  m_arena->Clear();
  m_names->Clear();
  m_nodes.clear();
  m_attributes.clear();
  m_childLinks.clear();
  spare.arena = std::move(m_arena);
  spare.names = std::move(m_names);
  spare.ids = std::move(m_ids);
  spare.scratch.swap(m_scratch);
  spare.nodes.swap(m_nodes);
  spare.attributes.swap(m_attributes);
  spare.childLinks.swap(m_childLinks);
  spare.childNext.swap(m_childNext);
  spare.toSort.swap(m_toSort);
}

size_t CXMLParser::BufferBytes() const {
  return m_arena->Bytes() + m_names->Bytes() + m_ids->Bytes() + m_scratch.capacity() * sizeof(char16_t) +
         m_nodes.capacity() * sizeof(CXMLNode) + m_attributes.capacity() * sizeof(CXMLNode::Attribute) +
         m_childLinks.capacity() * sizeof(const CXMLNode*) +
         (m_childNext.capacity() + m_toSort.capacity()) * sizeof(uint32_t);
}

const CXMLNode& CXMLParser::GetNodeById(uint32_t id) const {
  if (id == 0) return m_nodes.empty() ? EmptyNode() : m_nodes[0];
  if (m_byId.empty() && m_nodes.size() > 1) {
    m_byId.reserve(m_nodes.size() - 1);
    for (size_t i = 1; i < m_nodes.size(); ++i) m_byId.emplace_back(m_nodes[i].m_id, static_cast<uint32_t>(i));
    std::sort(m_byId.begin(), m_byId.end());
  }
  const auto it = std::lower_bound(m_byId.begin(), m_byId.end(), std::make_pair(id, uint32_t{0}));
  return it != m_byId.end() && it->first == id ? m_nodes[it->second] : EmptyNode();
}

std::u16string_view CXMLParser::Markup(const CXMLNode& node) const {
  const CXMLNode* first = m_nodes.data();
  const bool ours = std::less_equal<const CXMLNode*>()(first, &node) &&
                    std::less<const CXMLNode*>()(&node, first + m_nodes.size());
  if (!ours) return {};
  return std::u16string_view(m_text.str()).substr(node.m_markupBegin, node.m_markupEnd - node.m_markupBegin);
}

const CXMLNode& CXMLParser::Parse(std::u16string_view text) {
  // Copied before the old document goes: `text` may be one of its texts.
  SharedText copy(std::u16string{text});
  m_text = std::move(copy);
  return ParseText();
}

const CXMLNode& CXMLParser::ParseShared(const SharedText& text) {
  m_text = text;
  return ParseText();
}

const CXMLNode& CXMLParser::ParseText() {
  m_arena->Clear();
  m_names->Clear();
  m_nodes.clear();
  m_attributes.clear();
  m_childLinks.clear();
  m_byId.clear();
  // About one node per 64 code units in typical feeds; the estimate only
  // saves a few reallocations.
  const size_t expectedNodes = m_text.size() / 64 + 16;
  m_nodes.reserve(expectedNodes);
  CXMLNode& document = m_nodes.emplace_back();
  document.m_id = 0;
  document.m_parentId = kNoParent;
  document.m_markupEnd = m_text.size();
  m_current = 0;

  // The document is consumed from its front by moving a position; nothing
  // is erased or copied, so the time is linear in the text.
  const std::u16string_view text = m_text.str();
  const size_t n = text.size();
  size_t pos = 0;
  Pending pending;
  while (pos < n) {
    // One token: the text before one tag, and that tag.
    pending.Clear();
    std::u16string_view tag;
    while (tag.empty() && pos < n) {
      size_t lt = FindCodeUnit(text, u'<', pos);
      if (lt == std::u16string_view::npos) lt = n;
      pending.Add(text.substr(pos, lt - pos), false);
      pos = lt;
      // Only "<!" starts a CDATA section or a comment.
      const bool bang = pos + 1 < n && text[pos + 1] == u'!';
      if (bang && text.compare(pos, 9, u"<![CDATA[") == 0) {
        pos += 9;
        const size_t close = FindCloser(text, pos, u']');
        // A CDATA section without its end runs to the end of the document.
        const size_t end = close == std::u16string_view::npos ? n : close;
        pending.Add(text.substr(pos, end - pos), true);
        pos = close == std::u16string_view::npos ? n : close + 3;
      } else if (pos < n) {
        // A comment runs to its "-->", whatever ">" it holds; one without
        // that end is cut at its first ">" like any other tag.
        size_t gt = std::u16string_view::npos;
        if (bang && pos + 3 < n && text[pos + 2] == u'-' && text[pos + 3] == u'-') {
          const size_t close = FindCloser(text, pos + 2, u'-');
          if (close != std::u16string_view::npos) gt = close + 2;
        }
        if (gt == std::u16string_view::npos) gt = FindCodeUnit(text, u'>', pos);
        const size_t end = gt == std::u16string_view::npos ? n : gt + 1;
        tag = text.substr(pos, end - pos);
        pos = end;
      }
    }
    // Text after the last tag is discarded.
    if (!tag.empty()) ProcessTag(tag, pending);
  }
  FinishNodes();
  return m_nodes[0];
}

void CXMLParser::ProcessTag(std::u16string_view tag, const Pending& pending) {
  // A "<" without a ">" took the rest of the document: ignored.
  if (tag.size() < 2 || tag.front() != u'<' || tag.back() != u'>') return;
  const size_t begin = static_cast<size_t>(tag.data() - m_text.str().data());
  const size_t end = begin + tag.size();
  std::u16string_view r = Trimmed(tag.substr(1, tag.size() - 2));

  if (StartsWith(r, u"?") && EndsWith(r, u"?")) {
    AddNode(r.size() >= 2 ? r.substr(1, r.size() - 2) : std::u16string_view(), u'?', begin, end);
    return;
  }
  if (StartsWith(r, u"!--") && EndsWith(r, u"--")) {
    AddNode(r.size() >= 5 ? r.substr(3, r.size() - 5) : std::u16string_view(), u'!', begin, end);
    return;
  }
  if (EndsWith(r, u"/")) {
    AddNode(r.substr(0, r.size() - 1), 0, begin, end);  // pending text is discarded
    return;
  }
  if (StartsWith(r, u"/")) {
    r.remove_prefix(1);
    CXMLNode& current = m_nodes[m_current];
    // The document node is never closed: an end tag at the top level that
    // cannot match opens a new top-level element.
    if (m_current != 0 && TagName(Trimmed(r), nullptr) == current.m_name) {
      current.m_text = current.m_childCount != 0 ? std::u16string_view() : pending.Decoded(*m_arena, m_scratch);
      current.m_markupEnd = end;
      m_current = current.m_parentIndex;
      return;
    }
    // An end tag that does not close the current element opens one.
  }
  // Until its end tag comes, an element runs to the end of the text.
  m_current = AddNode(r, 0, begin, m_text.size());
}

uint32_t CXMLParser::AddNode(std::u16string_view inner, char16_t prefix, size_t begin, size_t end) {
  const uint32_t index = static_cast<uint32_t>(m_nodes.size());
  CXMLNode& node = m_nodes.emplace_back();
  node.m_markupBegin = begin;
  node.m_markupEnd = end;

  std::u16string_view rest;
  const std::u16string_view name = TagName(Trimmed(inner), &rest);
  node.m_name = m_names->Intern(name, prefix);

  const size_t first = m_attributes.size();
  while (!rest.empty()) {
    size_t eq = FindCodeUnit(rest, u'=');
    if (eq == std::u16string_view::npos) eq = rest.size();
    const std::u16string_view attrName = Trimmed(rest.substr(0, eq));
    rest.remove_prefix(eq);
    if (!rest.empty()) rest.remove_prefix(1);  // the "="
    rest = Trimmed(rest);
    if (rest.empty() || (rest[0] != u'"' && rest[0] != u'\'')) break;  // unquoted: drop the rest
    const char16_t quote = rest[0];
    rest.remove_prefix(1);
    const size_t close = FindCodeUnit(rest, quote);
    if (close == std::u16string_view::npos) break;  // unterminated: dropped
    m_attributes.push_back({attrName, rest.substr(0, close)});
    rest = Trimmed(rest.substr(close + 1));
  }
  size_t count = m_attributes.size() - first;
  if (count > 1) {
    // Sorted by name; of equal names the last one written wins.
    const auto begin = m_attributes.begin() + static_cast<ptrdiff_t>(first);
    std::stable_sort(begin, m_attributes.end(),
                     [](const CXMLNode::Attribute& a, const CXMLNode::Attribute& b) { return a.name < b.name; });
    size_t out = first;
    for (size_t i = first; i < m_attributes.size(); ++i) {
      if (i + 1 < m_attributes.size() && m_attributes[i + 1].name == m_attributes[i].name) continue;
      m_attributes[out++] = m_attributes[i];
    }
    m_attributes.resize(out);
    count = out - first;
  }
  node.m_attributeStart = static_cast<uint32_t>(first);
  node.m_attributeCount = static_cast<uint32_t>(count);

  node.m_parentIndex = m_current;
  ++m_nodes[m_current].m_childCount;
  return index;
}

void CXMLParser::FinishNodes() {
  // One pass over the nodes in document order gives each its identifier and
  // its parent's, and its range of m_childLinks; children are entered in
  // document order and the ranges sorted by name afterwards with a stable
  // sort, so equal names keep document order.
  //
  // Node by node, each takes the next draw that is not 0, not 0xFFFFFFFF and
  // not in use. The draws are made in batches no larger than the number of
  // nodes still waiting (so exactly as many draws are made as one node at a
  // time would make), and each batch's slots in the set are fetched from
  // memory together instead of one miss after another.
  constexpr size_t kBatch = 16;
  const size_t count = m_nodes.size();
  m_ids->Reset(count);
  uint32_t batch[kBatch];
  size_t batchNext = 0;
  size_t batchSize = 0;
  const auto nextId = [&](size_t waiting) {
    for (;;) {
      if (batchNext == batchSize) {
        batchSize = std::min(kBatch, waiting);
        for (size_t j = 0; j < batchSize; ++j) {
          batch[j] = m_random.DrawId();
          m_ids->Prefetch(batch[j]);
        }
        batchNext = 0;
      }
      const uint32_t id = batch[batchNext++];
      if (id != 0 && id != kNoParent && m_ids->Insert(id)) return id;
    }
  };

  m_childLinks.resize(count - 1);
  std::vector<uint32_t>& next = m_childNext;
  next.resize(count);
  std::vector<uint32_t>& toSort = m_toSort;
  toSort.clear();
  uint32_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    CXMLNode& node = m_nodes[i];
    if (i != 0) {
      node.m_id = nextId(count - i);
      // The parent comes earlier in the table, so it is already done.
      const uint32_t p = node.m_parentIndex;
      m_childLinks[next[p]++] = &node;
      node.m_parentId = m_nodes[p].m_id;
    }
    next[i] = offset;
    node.m_children = m_childLinks.data() + offset;
    offset += node.m_childCount;
    node.m_attributes = m_attributes.data() + node.m_attributeStart;
    node.m_cursor = node.m_childCount;
    if (node.m_childCount >= 2) toSort.push_back(static_cast<uint32_t>(i));
  }

  // Interned names are equal when they are the same slice of the name
  // table. The address alone does not tell: the empty name takes no room, so
  // it starts where the next name stored starts.
  const auto byName = [](const CXMLNode* a, const CXMLNode* b) {
    const bool same = a->m_name.data() == b->m_name.data() && a->m_name.size() == b->m_name.size();
    return !same && a->m_name < b->m_name;
  };
  for (uint32_t i : toSort) {
    const CXMLNode& node = m_nodes[i];
    const auto first = m_childLinks.begin() + (node.m_children - m_childLinks.data());
    const auto last = first + node.m_childCount;
    if (std::is_sorted(first, last, byName)) continue;
    if (node.m_childCount <= 16) {
      // An insertion sort is stable and needs no buffer for the few
      // children most elements have.
      for (auto it = first + 1; it != last; ++it) {
        const CXMLNode* child = *it;
        auto hole = it;
        for (; hole != first && byName(child, *(hole - 1)); --hole) *hole = *(hole - 1);
        *hole = child;
      }
    } else {
      std::stable_sort(first, last, byName);
    }
  }
}

}  // namespace qb
