// CUpdateEngine: one update pass at a time over a feed model, with the
// downloads running concurrently off the owner's thread.
//
// The owner is the thread that owns the model (the window's, or the command
// line's main thread). A pass collects the due sources when it starts, depth
// first (a group's sources, then its child groups), with the tick and the
// due test taken once. Their documents are fetched together by an
// IDownloader (CDownloadPool: one worker thread, politeness limits); each
// finished download is decoded there, queued, and announced through the
// `wake` hook. The owner then calls ApplyReady, which parses and interprets
// the results strictly in pass order: the next source only once its own
// result is in. Only the owner's thread touches the model, so a pass leaves
// exactly the model (records, identifiers, histories, statuses) that
// updating the sources one after another would leave.
//
// The engine holds source identifiers, never records: a source deleted
// while its document is on the way is dropped, one moved is applied where it
// now is, one whose address changed is dropped. Every method is for the
// owner's thread only, except that `wake` may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "feeds/Download.h"
#include "feeds/UpdateCycle.h"
#include "feeds/Validators.h"
#include "model/FeedsManager.h"

namespace qb {

// What became of one source of a pass.
struct SourceReport {
  ObjectId source = 0;
  std::u16string title;        // after the update
  std::u16string commsStatus;  // as stored on the source
  int added = 0;               // new articles
  bool fetched = true;         // false: held back by a server's Retry-After
  bool notModified = false;    // the server answered 304: nothing changed
  // Why the attempt failed ("host not found", "HTTP status 404", "not a
  // feed", ...), shown beside the comms status; empty when it did not.
  std::u16string reason;
  int64_t retryUntil = 0;      // not fetched before this time (0: no limit)
};

// The end of a pass.
struct PassReport {
  struct NewArticles {
    ObjectId source = 0;
    std::u16string title;
    int added = 0;
  };
  bool news = false;       // at least one new article anywhere
  bool cancelled = false;
  int added = 0;           // new articles in all
  std::vector<NewArticles> sources;  // those that brought any, in pass order
};

class CUpdateEngine {
 public:
  struct Hooks {
    // A result is waiting: arrange for ApplyReady on the owner's thread (a
    // queued call). Called from any thread, possibly under an internal lock:
    // it must not call the engine.
    std::function<void()> wake;
    // A source has been applied (also when its fetch failed or was held
    // back).
    std::function<void(const SourceReport&)> sourceApplied;
    // The pass has ended (the engine is idle again when this runs).
    std::function<void(const PassReport&)> passFinished;
    // Replaces ParseAndInterpret (tests).
    InterpretFunction interpret;
  };

  // `downloader` null: a CDownloadPool with the standard limits, made when
  // the first document is fetched.
  CUpdateEngine(CFeedsManager& manager, Hooks hooks = {},
                std::unique_ptr<IDownloader> downloader = nullptr);
  // Abandons a pass in flight; no hook is called from then on.
  ~CUpdateEngine();
  CUpdateEngine(const CUpdateEngine&) = delete;
  CUpdateEngine& operator=(const CUpdateEngine&) = delete;

  // A pass over the whole tree: the due sources, or every source when
  // forced. While a pass runs, a forced request appends the sources not yet
  // in it and an unforced one changes nothing. True when a pass started or
  // was joined. A pass with nothing to fetch ends at once.
  bool UpdateAll(bool force);
  // The same for the sources named (the add-feed command: forced).
  bool UpdateSources(const IdList& sources, bool force);

  bool Busy() const { return m_running; }
  // The source the pass is waiting for (0 when none).
  ObjectId WaitingFor() const;

  // Applies, in pass order, the results that have arrived, and ends the
  // pass when nothing is left. Call it after `wake`, and after deleting
  // sources, so that a pass does not wait for a source that is gone. Once
  // `budget` has been spent it stops after the source in hand and returns
  // true when the next result is already there: call again soon (an event
  // loop stays responsive between the calls).
  bool ApplyReady(std::chrono::milliseconds budget = std::chrono::milliseconds::max());

  // Applies results on this thread as they arrive until the pass ends.
  void RunToCompletion();

  // Abandons the pass: transfers stop at once, results not yet applied are
  // dropped, the status line says "Ready" and passFinished reports a
  // cancelled pass.
  void Cancel();

  // Validators, back-off and Retry-After of the sources. The owner loads
  // and saves them beside the data file.
  CValidatorStore& Validators() { return m_validators; }
  const CValidatorStore& Validators() const { return m_validators; }
  // The source's articles may have changed outside a pass (its history was
  // cleared): its next fetch asks for the whole document.
  void ForgetSource(ObjectId source) { m_validators.Forget(source); }

 private:
  struct Arrived {
    DownloadResult result;  // without its body, which is decoded into `text`
    SharedText text;
  };
  // Shared with the download callbacks, which may outlive a pass.
  struct Inbox;

  struct Entry {
    ObjectId source = 0;
    std::u16string url;  // as it was when the pass took the source
    uint32_t tick = 0;
    uint64_t serial = 0;
    bool sentValidators = false;
    bool held = false;  // not fetched: Retry-After
    int64_t holdUntil = 0;
    bool announced = false;
  };

  bool Enqueue(const IdList& sources, bool force);
  void Apply(const Entry& e, CFeedSource& source);
  void Finish(bool cancelled);
  void SetStatus(const std::u16string& text);
  void DrainInbox();

  CFeedsManager& m_manager;
  Hooks m_hooks;
  std::unique_ptr<IDownloader> m_downloader;
  std::shared_ptr<Inbox> m_inbox;
  CValidatorStore m_validators;

  bool m_running = false;
  bool m_applying = false;
  uint64_t m_nextSerial = 1;
  std::deque<Entry> m_queue;
  std::unordered_set<ObjectId> m_inPass;  // every source the pass has taken
  std::map<uint64_t, Arrived> m_arrived;   // by serial, drained from the inbox
  PassReport m_report;
};

}  // namespace qb
