// The update cycle: walks the tree, decides per source whether its refresh
// interval has elapsed on the 32-bit tick counter, downloads and interprets
// the due ones, and reports whether any new article arrived. Runs on the
// caller's thread and blocks it for every download.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "model/FeedsManager.h"
#include "model/SharedText.h"

namespace qb {

// Status texts of the update cycle.
inline constexpr char16_t kStatusUpdating[] = u"Updating...";
inline constexpr char16_t kStatusReady[] = u"Ready";
inline constexpr char16_t kCommsDownloadError[] =
    u"Comms status: ERROR - unable to download feed contents";

// Every source in the tree, group by group; "Updating..." before and
// "Ready" after, through the manager's status handler when there is one.
// True when at least one new article was added anywhere.
bool UpdateAll(CFeedsManager& manager, bool force);

// The group's sources, then its child groups, depth first.
bool UpdateGroup(CFeedsManager& manager, CGroup& group, bool force);

// Fetches and interprets the source when `force` is set or it is due. True
// when it added at least one new article.
bool UpdateSource(CFeedsManager& manager, CFeedSource& source, bool force);

// Whether a source last updated at `lastTick` is due at `now`. The interval
// is computed in 64 bits: one whose milliseconds do not fit the 32-bit
// counter (over about 49.7 days) is never due on its own. A counter that has
// wrapped since the last update makes the source due.
bool IsSourceDue(uint32_t now, uint32_t lastTick, int32_t refreshMinutes);

// The wait cursor shown while sources are fetched. The window installs one;
// without one (headless) nothing is shown. Begin and End nest.
class IWaitCursor {
 public:
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;

 protected:
  ~IWaitCursor() = default;
};

// Installs the process-wide wait cursor (not owned); null removes it.
void SetWaitCursor(IWaitCursor* cursor);
IWaitCursor* GetWaitCursor();

// Shows the installed wait cursor for the lifetime of the object.
class CWaitCursorScope {
 public:
  CWaitCursorScope();
  ~CWaitCursorScope();
  CWaitCursorScope(const CWaitCursorScope&) = delete;
  CWaitCursorScope& operator=(const CWaitCursorScope&) = delete;

 private:
  IWaitCursor* m_cursor;
};

// Told about every source an update fetched, once it has been interpreted
// (also when the fetch failed); `added` is the update's result. One
// process-wide callback; an empty function removes it.
using SourceUpdatedFunction = std::function<void(const CFeedSource& source, bool added)>;
void SetSourceUpdatedFunction(SourceUpdatedFunction callback);

// The two steps of a source update that reach outside the model: fetching
// the text and turning it into articles. Tests replace them; an empty
// function restores the real one (DownloadText; CXMLParser::Parse followed
// by InterpretDocument).
using FetchFunction = std::function<std::u16string(const std::u16string& url)>;
using InterpretFunction = std::function<bool(CFeedsManager& manager, CFeedSource& source,
                                             const SharedText& text, uint32_t tick)>;
void SetFetchFunction(FetchFunction fetch);
void SetInterpretFunction(InterpretFunction interpret);

// The real interpretation step: parse the text, then InterpretDocument.
bool ParseAndInterpret(CFeedsManager& manager, CFeedSource& source, const SharedText& text,
                       uint32_t tick);

// Restores the real fetch and interpretation, and removes the callback,
// when it goes out of scope.
class ScopedUpdateOverride {
 public:
  ScopedUpdateOverride() = default;
  ~ScopedUpdateOverride() {
    SetFetchFunction(nullptr);
    SetInterpretFunction(nullptr);
    SetSourceUpdatedFunction(nullptr);
  }
  ScopedUpdateOverride(const ScopedUpdateOverride&) = delete;
  ScopedUpdateOverride& operator=(const ScopedUpdateOverride&) = delete;
};

}  // namespace qb
