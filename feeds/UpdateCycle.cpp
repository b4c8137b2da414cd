#include "feeds/UpdateCycle.h"

#include <limits>
#include <unordered_set>
#include <vector>

#include "feeds/Download.h"
#include "feeds/Interpret.h"
#include "feeds/XMLParser.h"

namespace qb {

namespace {

constexpr int64_t kMillisecondsPerMinute = 60000;

IWaitCursor*& WaitCursor() {
  static IWaitCursor* cursor = nullptr;
  return cursor;
}
FetchFunction& Fetch() {
  static FetchFunction fetch;
  return fetch;
}
InterpretFunction& Interpret() {
  static InterpretFunction interpret;
  return interpret;
}

SourceUpdatedFunction& SourceUpdated() {
  static SourceUpdatedFunction callback;
  return callback;
}

void SetStatus(CFeedsManager& manager, const std::u16string& text) {
  if (manager.m_statusHandler) manager.m_statusHandler->SetStatusText(text);
}

}  // namespace

void SetWaitCursor(IWaitCursor* cursor) { WaitCursor() = cursor; }
IWaitCursor* GetWaitCursor() { return WaitCursor(); }

CWaitCursorScope::CWaitCursorScope() : m_cursor(WaitCursor()) {
  if (m_cursor) m_cursor->BeginWait();
}
CWaitCursorScope::~CWaitCursorScope() {
  if (m_cursor) m_cursor->EndWait();
}

void SetSourceUpdatedFunction(SourceUpdatedFunction callback) {
  SourceUpdated() = std::move(callback);
}

void SetFetchFunction(FetchFunction fetch) { Fetch() = std::move(fetch); }
void SetInterpretFunction(InterpretFunction interpret) { Interpret() = std::move(interpret); }

bool ParseAndInterpret(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       uint32_t tick) {
  CXMLParser parser;
  const CXMLNode& document = parser.ParseShared(text);
  return InterpretDocument(manager, source, text, document, tick);
}

bool IsSourceDue(uint32_t now, uint32_t lastTick, int32_t refreshMinutes) {
  const int64_t interval = int64_t{refreshMinutes} * kMillisecondsPerMinute;
  // Longer than the counter can measure: only a forced update fetches it.
  if (interval > int64_t{std::numeric_limits<uint32_t>::max()}) return false;
  if (now < lastTick) return true;  // the counter has wrapped
  return int64_t{static_cast<uint32_t>(now - lastTick)} >= interval;
}

bool UpdateAll(CFeedsManager& manager, bool force) {
  SetStatus(manager, kStatusUpdating);
  bool result = false;
  // The identifiers are copied: an update never changes the tree's lists,
  // but a status handler of the window could.
  const IdList roots = manager.m_rootGroups;
  for (ObjectId id : roots) {
    if (CGroup* group = manager.GetGroup(id)) result |= UpdateGroup(manager, *group, force);
  }
  SetStatus(manager, kStatusReady);
  return result;
}

bool UpdateGroup(CFeedsManager& manager, CGroup& group, bool force) {
  CWaitCursorScope wait;
  bool result = false;
  // Pre-order over the group's subtree: a group's sources, then each child
  // group in turn with everything below it. Iterative, and each group once,
  // so neither a deep tree nor a damaged file whose lists form a cycle can
  // exhaust the stack.
  std::unordered_set<ObjectId> seen;
  std::vector<ObjectId> stack{group.m_id};
  while (!stack.empty()) {
    const ObjectId id = stack.back();
    stack.pop_back();
    if (!seen.insert(id).second) continue;
    CGroup* g = manager.GetGroup(id);
    if (g == nullptr) continue;
    const IdList sources = g->m_sources;
    const IdList children = g->m_childGroups;
    for (ObjectId sid : sources) {
      if (CFeedSource* source = manager.GetFeedSource(sid)) {
        result |= UpdateSource(manager, *source, force);
      }
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
  }
  return result;
}

bool UpdateSource(CFeedsManager& manager, CFeedSource& source, bool force) {
  const uint32_t now = manager.Clock().GetTickCount32();
  if (!force && !IsSourceDue(now, source.m_lastUpdateTick, source.m_refreshInterval)) {
    return false;
  }
  SetStatus(manager, u"Updating '" + source.m_title + u"'...");
  bool result = false;
  try {
    const std::u16string url = source.m_url;
    const SharedText text(Fetch() ? Fetch()(url) : DownloadText(url));
    result = Interpret() ? Interpret()(manager, source, text, now)
                         : ParseAndInterpret(manager, source, text, now);
  } catch (...) {
    source.m_commsStatus = kCommsDownloadError;
    result = false;
  }
  if (SourceUpdated()) SourceUpdated()(source, result);
  return result;
}

}  // namespace qb
