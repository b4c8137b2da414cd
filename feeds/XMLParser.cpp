#include "feeds/XMLParser.h"

#include <algorithm>

#include "feeds/Markup.h"
#include "model/Random.h"
#include "model/Text.h"

namespace qb {
namespace {

constexpr uint32_t kNoParent = 0xFFFFFFFF;
constexpr uint32_t kNotFound = 0xFFFFFFFF;

const CXMLNode& EmptyNode() {
  static const CXMLNode empty;
  return empty;
}

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::u16string_view s, std::u16string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The first "]]>" at or after `pos`, or npos.
size_t FindCdataEnd(std::u16string_view text, size_t pos) {
  for (size_t p = FindCodeUnit(text, u'>', pos); p != std::u16string_view::npos;
       p = FindCodeUnit(text, u'>', p + 1)) {
    if (p >= pos + 2 && text[p - 1] == u']' && text[p - 2] == u']') return p - 2;
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

// The element name: the leading run up to a space or a tab (only these two
// end it, so a line break right after the name belongs to the name).
std::u16string_view TagName(std::u16string_view trimmed, std::u16string_view* rest) {
  size_t k = 0;
  while (k < trimmed.size() && trimmed[k] != u' ' && trimmed[k] != u'\t') ++k;
  if (rest != nullptr) *rest = Trimmed(trimmed.substr(k));
  return Trimmed(trimmed.substr(0, k));
}

// Every "&apos;" replaced by "'", left to right.
std::u16string ApostropheEntitiesDecoded(std::u16string_view s) {
  std::u16string out;
  size_t i = 0;
  for (size_t p = s.find(u"&apos;"); p != std::u16string_view::npos; p = s.find(u"&apos;", i)) {
    out.append(s.data() + i, p - i);
    out.push_back(u'\'');
    i = p + 6;
  }
  out.append(s.data() + i, s.size() - i);
  return out;
}

}  // namespace

// Node identifier to position in the node table: open addressing over a
// power-of-two array. Identifier 0 (the document node) is never stored, so 0
// marks an empty slot.
class CXMLParser::IdTable {
 public:
  void Clear() {
    std::fill(m_slots.begin(), m_slots.end(), Slot{});
    m_count = 0;
  }

  uint32_t Find(uint32_t id) const {
    if (m_slots.empty() || id == 0) return kNotFound;
    for (size_t i = Home(id);; i = (i + 1) & m_mask) {
      if (m_slots[i].id == id) return m_slots[i].index;
      if (m_slots[i].id == 0) return kNotFound;
    }
  }

  void Insert(uint32_t id, uint32_t index) {
    if ((m_count + 1) * 2 > m_slots.size()) Grow();
    size_t i = Home(id);
    while (m_slots[i].id != 0) i = (i + 1) & m_mask;
    m_slots[i] = Slot{id, index};
    ++m_count;
  }

 private:
  struct Slot {
    uint32_t id = 0;
    uint32_t index = 0;
  };

  size_t Home(uint32_t id) const { return (static_cast<uint64_t>(id) * 0x9E3779B97F4A7C15ull >> 32) & m_mask; }

  void Grow() {
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
    m_mask = m_slots.size() - 1;
    m_count = 0;
    for (const Slot& s : old) {
      if (s.id != 0) Insert(s.id, s.index);
    }
  }

  std::vector<Slot> m_slots;
  size_t m_mask = 0;
  size_t m_count = 0;
};

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
  // ordinary text are decoded. Decoding runs over the joined text because an
  // entity may straddle the border of a CDATA section.
  std::u16string Decoded() const {
    if (segments.empty()) return {};
    if (segments.size() == 1) {
      if (!hasCdata) return DecodeEntities(segments[0].text);
      // Decoding what was just encoded gives the text back, except that the
      // text "&apos;" (encoded "&amp;apos;") comes back as "'".
      return ApostropheEntitiesDecoded(segments[0].text);
    }
    std::u16string joined;
    for (const Segment& s : segments) {
      if (s.cdata) {
        joined += EncodeEntities(s.text);
      } else {
        joined += s.text;
      }
    }
    return DecodeEntities(joined);
  }
};

const CXMLNode* CXMLNode::FindChild(std::u16string_view name) const {
  const CXMLNode* const* end = m_children + m_childCount;
  const CXMLNode* const* it = std::lower_bound(
      m_children, end, name,
      [](const CXMLNode* child, std::u16string_view n) { return std::u16string_view(child->m_name) < n; });
  m_cursor = static_cast<uint32_t>(it - m_children);
  return it == end ? nullptr : *it;
}

const CXMLNode* CXMLNode::FindNextChild(std::u16string_view name) const {
  if (m_cursor >= m_childCount) return nullptr;
  const uint32_t next = m_cursor + 1;
  if (next >= m_childCount || m_children[next]->m_name != name) return nullptr;
  m_cursor = next;
  return m_children[next];
}

const std::u16string& CXMLNode::GetAttribute(std::u16string_view name) const {
  auto it = std::lower_bound(m_attributes.begin(), m_attributes.end(), name,
                             [](const Attribute& a, std::u16string_view n) {
                               return std::u16string_view(a.first) < n;
                             });
  if (it != m_attributes.end() && it->first == name) return it->second;
  return EmptyNode().m_text;
}

CXMLParser::CXMLParser() : m_ids(std::make_unique<IdTable>()) {}
CXMLParser::~CXMLParser() = default;

const CXMLNode& CXMLParser::GetNodeById(uint32_t id) const {
  if (id == 0) return m_nodes.empty() ? EmptyNode() : m_nodes[0];
  const uint32_t index = m_ids->Find(id);
  return index == kNotFound ? EmptyNode() : m_nodes[index];
}

const CXMLNode& CXMLParser::Parse(std::u16string_view text) {
  m_nodes.clear();
  m_childLinks.clear();
  m_ids->Clear();
  // About one node per 64 code units in typical feeds; the estimate only
  // saves a few reallocations.
  m_nodes.reserve(text.size() / 64 + 16);
  CXMLNode& document = m_nodes.emplace_back();
  document.m_id = 0;
  document.m_parentId = kNoParent;
  m_current = 0;

  // The document is consumed from its front by moving a position; nothing
  // is erased or copied, so the time is linear in the text.
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
      if (text.compare(pos, 9, u"<![CDATA[") == 0) {
        pos += 9;
        const size_t close = FindCdataEnd(text, pos);
        // A CDATA section without its end runs to the end of the document.
        const size_t end = close == std::u16string_view::npos ? n : close;
        pending.Add(text.substr(pos, end - pos), true);
        pos = close == std::u16string_view::npos ? n : close + 3;
      } else if (pos < n) {
        const size_t gt = FindCodeUnit(text, u'>', pos);
        const size_t end = gt == std::u16string_view::npos ? n : gt + 1;
        tag = text.substr(pos, end - pos);
        pos = end;
      }
    }
    // Text after the last tag is discarded.
    if (!tag.empty()) ProcessTag(tag, pending);
  }
  LinkChildren();
  return m_nodes[0];
}

void CXMLParser::ProcessTag(std::u16string_view tag, const Pending& pending) {
  // A "<" without a ">" took the rest of the document: ignored.
  if (tag.front() != u'<' || tag.back() != u'>' || tag.size() < 2) return;
  std::u16string_view r = Trimmed(tag.substr(1, tag.size() - 2));

  if (StartsWith(r, u"?") && EndsWith(r, u"?")) {
    AddNode(r.size() >= 2 ? r.substr(1, r.size() - 2) : std::u16string_view(), u'?');
    return;
  }
  if (StartsWith(r, u"!--") && EndsWith(r, u"--")) {
    // A comment holding ">" was cut there and is not recognised here.
    AddNode(r.size() >= 5 ? r.substr(3, r.size() - 5) : std::u16string_view(), u'!');
    return;
  }
  if (EndsWith(r, u"/")) {
    AddNode(r.substr(0, r.size() - 1), 0);  // pending text is discarded
    return;
  }
  if (StartsWith(r, u"/")) {
    r.remove_prefix(1);
    CXMLNode& current = m_nodes[m_current];
    // The document node is never closed: an end tag at the top level that
    // cannot match opens a new top-level element.
    if (m_current != 0 && TagName(Trimmed(r), nullptr) == current.m_name) {
      current.m_text = current.m_childCount != 0 ? std::u16string() : pending.Decoded();
      m_current = current.m_parentIndex;
      return;
    }
    // An end tag that does not close the current element opens one.
  }
  m_current = AddNode(r, 0);
}

uint32_t CXMLParser::DrawNodeId() const {
  for (;;) {
    const uint32_t id = DrawRandomId();
    if (id != 0 && id != kNoParent && m_ids->Find(id) == kNotFound) return id;
  }
}

uint32_t CXMLParser::AddNode(std::u16string_view inner, char16_t prefix) {
  const uint32_t index = static_cast<uint32_t>(m_nodes.size());
  CXMLNode& node = m_nodes.emplace_back();

  std::u16string_view rest;
  const std::u16string_view name = TagName(Trimmed(inner), &rest);
  if (prefix != 0) {
    node.m_name.reserve(name.size() + 1);
    node.m_name.push_back(prefix);
  }
  node.m_name.append(name);

  while (!rest.empty()) {
    size_t eq = rest.find(u'=');
    if (eq == std::u16string_view::npos) eq = rest.size();
    const std::u16string_view attrName = Trimmed(rest.substr(0, eq));
    rest.remove_prefix(eq);
    if (!rest.empty()) rest.remove_prefix(1);  // the "="
    rest = Trimmed(rest);
    if (rest.empty() || (rest[0] != u'"' && rest[0] != u'\'')) break;  // unquoted: drop the rest
    const char16_t quote = rest[0];
    rest.remove_prefix(1);
    const size_t close = rest.find(quote);
    if (close == std::u16string_view::npos) break;  // unterminated: dropped
    node.m_attributes.emplace_back(std::u16string(attrName), std::u16string(rest.substr(0, close)));
    rest = Trimmed(rest.substr(close + 1));
  }
  if (node.m_attributes.size() > 1) {
    // Sorted by name; of equal names the last one written wins.
    auto& attrs = node.m_attributes;
    std::stable_sort(attrs.begin(), attrs.end(),
                     [](const CXMLNode::Attribute& a, const CXMLNode::Attribute& b) { return a.first < b.first; });
    size_t out = 0;
    for (size_t i = 0; i < attrs.size(); ++i) {
      if (i + 1 < attrs.size() && attrs[i + 1].first == attrs[i].first) continue;
      if (out != i) attrs[out] = std::move(attrs[i]);
      ++out;
    }
    attrs.resize(out);
  }

  node.m_id = DrawNodeId();
  m_ids->Insert(node.m_id, index);
  CXMLNode& parent = m_nodes[m_current];
  node.m_parentIndex = m_current;
  node.m_parentId = parent.m_id;
  ++parent.m_childCount;
  return index;
}

void CXMLParser::LinkChildren() {
  // Every node's children get one range of m_childLinks, filled in document
  // order (the node table is in document order) and then sorted by name with
  // a stable sort, so equal names keep document order.
  const size_t count = m_nodes.size();
  m_childLinks.assign(count - 1, nullptr);
  std::vector<uint32_t> start(count);
  uint32_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    start[i] = offset;
    offset += m_nodes[i].m_childCount;
    m_nodes[i].m_children = m_childLinks.data() + start[i];
  }
  std::vector<uint32_t> filled(count, 0);
  for (size_t i = 1; i < count; ++i) {
    const uint32_t p = m_nodes[i].m_parentIndex;
    m_childLinks[start[p] + filled[p]++] = &m_nodes[i];
  }
  const auto byName = [](const CXMLNode* a, const CXMLNode* b) { return a->m_name < b->m_name; };
  for (size_t i = 0; i < count; ++i) {
    CXMLNode& node = m_nodes[i];
    node.m_cursor = node.m_childCount;
    if (node.m_childCount < 2) continue;
    auto first = m_childLinks.begin() + start[i];
    auto last = first + node.m_childCount;
    if (!std::is_sorted(first, last, byName)) std::stable_sort(first, last, byName);
  }
}

}  // namespace qb
