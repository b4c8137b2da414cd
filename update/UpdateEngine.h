// CUpdateEngine: one update pass at a time over a feed model, with the
// downloads running concurrently off the owner's thread.
//
// The owner is the thread that owns the model (the window's, or the command
// line's main thread). A pass collects the due sources when it starts, depth
// first (a group's sources, then its child groups), with the tick and the
// due test taken once; sources without an address are never fetched. Their
// documents are fetched together by an IDownloader (the program's one
// CDownloadPool: politeness limits), the engine's transfers a group of their
// own; each finished download is handed to the engine's reading thread,
// which decodes it, parses it (ParseFeed) and reads it into candidate
// articles (ReadFeed), without the model, and the engine posts itself a task
// on its IExecutor, which runs it on the owner's thread. That task merges
// what was read (CFeedsManager::MergeArticles) strictly in pass order: the
// next source only once its own result is in. Only the owner's thread touches
// the model, so a pass leaves exactly the model (records, identifiers,
// histories, statuses) that updating the sources one after another would
// leave.
//
// What was read (the document's text and its candidates) is kept only until
// its source has been merged; one
// whose source left the pass, or whose pass was cancelled, is dropped when
// that happens, or as soon as it arrives if its download was still on the
// way.
//
// The engine holds source identifiers, never records: a source deleted
// while its document is on the way is dropped, one moved is applied where it
// now is, one whose address changed is dropped. Every method is for the
// owner's thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "base/Executor.h"
#include "formats/ParsedFeed.h"
#include "model/FeedsManager.h"
#include "net/Download.h"
#include "update/UpdateCycle.h"
#include "update/Validators.h"

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
  // feed", "did not answer in time", ...), shown beside the comms status;
  // empty when it did not.
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
    // A source has been applied (also when its fetch failed or was held
    // back).
    std::function<void(const SourceReport&)> sourceApplied;
    // The pass has ended (the engine is idle again when this runs).
    std::function<void(const PassReport&)> passFinished;
    // The status line's text: "Updating...", the source waited for, "Ready".
    std::function<void(const std::u16string& text)> status;
    // Replaces ParseFeed (tests). Called on the engine's reading thread, so
    // it must touch nothing but its argument and state of its own that is
    // safe across threads.
    std::function<CParsedFeed(const SharedText& text)> parse;
    // Replaces reading and merging (tests): given the parsed document on
    // the owner's thread, it changes the source through the model's
    // operations. `tick` is the tick taken when the source joined the pass.
    std::function<bool(CFeedsManager& manager, const CFeedSource& source, const CParsedFeed& feed, uint32_t tick)>
        interpret;
    // How long one task of the executor may apply results before it posts
    // the rest as another task, so that an event loop runs in between;
    // unset: no limit.
    std::optional<std::chrono::milliseconds> applySlice;
  };

  // Fetches through `downloader` and applies from tasks on `executor`; both
  // must outlive the engine.
  CUpdateEngine(CFeedsManager& manager, IDownloader& downloader, IExecutor& executor,
                Hooks hooks = {});
  // With a downloader and a task queue of its own, for a thread that waits
  // for the pass (RunToCompletion). `downloader` null: a CDownloadPool with
  // the standard limits, made when the first document is fetched.
  CUpdateEngine(CFeedsManager& manager, Hooks hooks = {},
                std::unique_ptr<IDownloader> downloader = nullptr);
  // Abandons a pass in flight; no hook is called from then on, and no task
  // posted by the engine does anything.
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
  // pass when nothing is left; the engine's own tasks call it. Once
  // `budget` has been spent it stops after the source in hand and returns
  // true when the next result is already there: call again soon (an event
  // loop stays responsive between the calls).
  bool ApplyReady(std::chrono::milliseconds budget = std::chrono::milliseconds::max());
  // Posts a task that applies what has arrived, a slice at a time. Call it
  // after deleting sources, so that a pass does not wait for one that is
  // gone.
  void ApplySoon();

  // The first update of a source just subscribed, from the document the
  // add-feed search already fetched for its address: applied as a download
  // that has just arrived, so the server is not asked twice. A document for
  // another address, or one that did not complete, is fetched as usual.
  // Forced; joins a running pass like UpdateSources.
  bool UpdateSourceFrom(ObjectId source, std::u16string_view fetchedUrl, DownloadResult document);

  // Applies results on this thread as they arrive until the pass ends.
  // REQUIRES: made with the constructor that gives the engine its own queue.
  void RunToCompletion();

  // Waits until every download delivered so far has been read (tests, and
  // a caller that wants the results of deliveries it made itself).
  void WaitForReading();

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
  void ForgetSource(ObjectId source) { m_validators.ForgetValidators(source); }

 private:
  using ParseFunction = std::function<CParsedFeed(const SharedText& text)>;
  struct Arrived {
    DownloadResult result;  // without its body, which is decoded, parsed and read into `reading`
    FeedReading reading;
    CParsedFeed feed;     // instead, for the `interpret` hook
    bool failed = false;  // decoding, parsing or reading threw: nothing was read
  };
  // Decodes, parses and reads (`keepParsed`: only parses) a download on
  // any thread; `url` is the address its source had when it joined the pass.
  static Arrived Parsed(DownloadResult result, const ParseFunction& parse, bool keepParsed, std::u16string_view url);
  // Shared with the download callbacks, which may outlive a pass.
  struct Inbox;

  struct Entry {
    ObjectId source = 0;
    std::u16string url;  // as it was when the pass took the source
    uint32_t tick = 0;
    uint64_t serial = 0;
    bool sentValidators = false;
    bool held = false;  // not fetched: Retry-After
    bool prefetched = false;  // its document came with the request
    int64_t holdUntil = 0;
    bool announced = false;
  };

  bool Enqueue(const IdList& sources, bool force, const DownloadResult* fetched = nullptr);
  void Apply(const Entry& e, const CFeedSource& source);
  void Finish(bool cancelled);
  void SetStatus(const std::u16string& text);
  void DrainInbox();
  // Drops the result of `serial`, here or on its way (its source left the
  // pass).
  void Drop(uint64_t serial);
  IDownloader& Downloader();
  // The engine's task: applies a slice, and posts the next when more waits.
  void ApplyPosted();

  CFeedsManager& m_manager;
  Hooks m_hooks;
  // Set by the second constructor; declared before the references to them.
  std::unique_ptr<IDownloader> m_ownDownloader;
  std::unique_ptr<CTaskQueue> m_ownQueue;
  IDownloader* m_downloader = nullptr;
  const uint64_t m_group = NewDownloadGroup();
  std::shared_ptr<Inbox> m_inbox;
  std::thread m_reader;  // reads what the downloads brought; started with the first one
  CValidatorStore m_validators;

  bool m_running = false;
  bool m_applying = false;
  uint64_t m_nextSerial = 1;
  std::deque<Entry> m_queue;
  std::unordered_set<ObjectId> m_inPass;  // every source the pass has taken
  std::map<uint64_t, Arrived> m_arrived;   // by serial, drained from the inbox (or prefetched)
  PassReport m_report;
  // Last: its tasks are dropped before anything else goes.
  std::unique_ptr<CExecutorScope> m_tasks;
};

}  // namespace qb
