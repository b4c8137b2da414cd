#include "update/UpdateEngine.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "base/DateTime.h"
#include "base/Text.h"
#include "formats/Interpret.h"

namespace qb {

namespace {

// `retryUntil`: the time a 429 or 503 answer allows the next try (0: none).
std::u16string FailureReason(const DownloadResult& r, int64_t retryUntil) {
  if (!r.ok) return DescribeDownloadError(r.error);
  if (r.httpStatus >= 400) {
    std::u16string reason = u"HTTP status " + Widen(std::to_string(r.httpStatus));
    if (retryUntil != 0) {
      reason += u"; the server allows the next try at " + CDateTime::FromTime(retryUntil).Format();
    }
    return reason;
  }
  return u"not a feed";
}

bool IsSuccess(long status) { return status >= 200 && status < 300; }

}  // namespace

CUpdateEngine::Arrived CUpdateEngine::Parsed(DownloadResult r, const ParseFunction& parse, bool keepParsed,
                                             std::u16string_view url) {
  Arrived a;
  try {
    // The body goes as soon as it is decoded; the text lives on in the
    // parsed document, and then in what was read from it.
    const SharedText text(DecodeDownload(r));
    std::string().swap(r.body);  // frees it, as an assignment would not
    CParsedFeed feed = parse ? parse(text) : ParseFeed(text);
    if (keepParsed) {
      a.feed = std::move(feed);
    } else {
      a.reading = ReadFeed(feed, url);
    }
  } catch (...) {
    // Out of memory on the worker: the source gets the status of a failed
    // transfer, as when its merge fails so.
    a.feed = CParsedFeed();
    a.reading = FeedReading();
    a.failed = true;
  }
  std::string().swap(r.body);
  a.result = std::move(r);
  return a;
}

// Between the download pool's thread, which delivers each finished transfer,
// the engine's reading thread, which decodes, parses and reads it, and the
// owner's thread, which takes what was read.
struct CUpdateEngine::Inbox {
  std::mutex mutex;
  std::condition_variable wake;  // the reading thread waits on it
  std::condition_variable idle;  // WaitForReading waits on it
  bool reading = false;          // a document is being read
  std::map<uint64_t, Arrived> results;
  // The serials whose results the pass still waits for, with the address
  // their source had when it joined the pass; a result of any other serial
  // (its source left the pass, the pass was cancelled) is dropped when it
  // arrives.
  std::unordered_map<uint64_t, std::u16string> awaited;
  // Delivered, not read yet.
  std::deque<std::pair<uint64_t, DownloadResult>> unread;
  // Posts the engine's task; null once the engine has closed the inbox.
  std::function<void()> post;
  bool posted = false;  // a task is on its way and has not drained yet
  bool closing = false;  // the reading thread ends
  // Set before the first download starts, then only read.
  ParseFunction parse;
  bool keepParsed = false;  // the owner interprets the parsed document itself (a test's hook)

  // On the pool's thread: only queued, so that the pool's other transfers
  // never wait for a large document to be parsed.
  void Deliver(uint64_t serial, DownloadResult r) {
    std::lock_guard<std::mutex> lock(mutex);
    // Not worth reading when nobody waits for it.
    if (!post || awaited.count(serial) == 0) return;
    unread.emplace_back(serial, std::move(r));
    wake.notify_one();
  }

  // The reading thread.
  void Read() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return closing || !unread.empty(); });
      if (closing) return;
      auto [serial, result] = std::move(unread.front());
      unread.pop_front();
      auto it = awaited.find(serial);
      if (!post || it == awaited.end()) {
        if (unread.empty()) idle.notify_all();
        continue;
      }
      const std::u16string url = it->second;
      reading = true;
      lock.unlock();
      Arrived a = Parsed(std::move(result), parse, keepParsed, url);
      lock.lock();
      reading = false;
      if (unread.empty()) idle.notify_all();
      // It may have been given up while it was read.
      if (!post || awaited.erase(serial) == 0) {
        lock.unlock();
        a = Arrived();  // dropped off the lock
        lock.lock();
        continue;
      }
      results.insert_or_assign(serial, std::move(a));
      // Under the lock, so that nothing is posted once the engine has
      // closed the inbox; one task serves every result that came before it
      // runs.
      if (!posted) {
        posted = true;
        post();
      }
    }
  }
};

CUpdateEngine::CUpdateEngine(CFeedsManager& manager, IDownloader& downloader, IExecutor& executor,
                             Hooks hooks)
    : m_manager(manager),
      m_hooks(std::move(hooks)),
      m_downloader(&downloader),
      m_inbox(std::make_shared<Inbox>()),
      m_tasks(std::make_unique<CExecutorScope>(executor)) {
  m_inbox->post = [this] { m_tasks->Post([this] { ApplyPosted(); }); };
  m_inbox->parse = m_hooks.parse;
  m_inbox->keepParsed = static_cast<bool>(m_hooks.interpret);
}

CUpdateEngine::CUpdateEngine(CFeedsManager& manager, Hooks hooks,
                             std::unique_ptr<IDownloader> downloader)
    : m_manager(manager),
      m_hooks(std::move(hooks)),
      m_ownDownloader(std::move(downloader)),
      m_ownQueue(std::make_unique<CTaskQueue>()),
      m_downloader(m_ownDownloader.get()),
      m_inbox(std::make_shared<Inbox>()),
      m_tasks(std::make_unique<CExecutorScope>(*m_ownQueue)) {
  m_inbox->post = [this] { m_tasks->Post([this] { ApplyPosted(); }); };
  m_inbox->parse = m_hooks.parse;
  m_inbox->keepParsed = static_cast<bool>(m_hooks.interpret);
}

CUpdateEngine::~CUpdateEngine() {
  std::map<uint64_t, Arrived> dropped;
  std::deque<std::pair<uint64_t, DownloadResult>> unread;
  {
    std::lock_guard<std::mutex> lock(m_inbox->mutex);
    m_inbox->post = nullptr;
    m_inbox->closing = true;
    m_inbox->awaited.clear();
    dropped.swap(m_inbox->results);
    unread.swap(m_inbox->unread);
  }
  m_inbox->wake.notify_all();
  // A document being read is finished first (a fraction of a second even
  // for a large one).
  if (m_reader.joinable()) m_reader.join();
  if (m_downloader != nullptr) m_downloader->Cancel(m_group);
}

void CUpdateEngine::WaitForReading() {
  std::unique_lock<std::mutex> lock(m_inbox->mutex);
  m_inbox->idle.wait(lock, [&] { return m_inbox->closing || (m_inbox->unread.empty() && !m_inbox->reading); });
}

IDownloader& CUpdateEngine::Downloader() {
  if (m_downloader == nullptr) {
    m_ownDownloader = std::make_unique<CDownloadPool>();
    m_downloader = m_ownDownloader.get();
  }
  return *m_downloader;
}

void CUpdateEngine::ApplyPosted() {
  {
    std::lock_guard<std::mutex> lock(m_inbox->mutex);
    m_inbox->posted = false;
  }
  if (ApplyReady(m_hooks.applySlice.value_or(std::chrono::milliseconds::max()))) ApplySoon();
}

void CUpdateEngine::ApplySoon() {
  std::lock_guard<std::mutex> lock(m_inbox->mutex);
  if (m_inbox->post && !m_inbox->posted) {
    m_inbox->posted = true;
    m_inbox->post();
  }
}

void CUpdateEngine::SetStatus(const std::u16string& text) {
  if (m_hooks.status) m_hooks.status(text);
}

bool CUpdateEngine::UpdateAll(bool force) {
  IdList sources;
  m_manager.CollectSources(0, sources);
  return UpdateSources(sources, force);
}

bool CUpdateEngine::UpdateSources(const IdList& sources, bool force) {
  if (m_running && !force) return false;
  return Enqueue(sources, force);
}

bool CUpdateEngine::UpdateSourceFrom(ObjectId source, std::u16string_view fetchedUrl,
                                     DownloadResult document) {
  const CFeedSource* s = m_manager.GetFeedSource(source);
  if (s == nullptr || s->m_url != fetchedUrl || !document.ok) return Enqueue({source}, true);
  return Enqueue({source}, true, &document);
}

bool CUpdateEngine::Enqueue(const IdList& sources, bool force, const DownloadResult* fetched) {
  const bool joining = m_running;
  const uint32_t tick = m_manager.Clock().GetTickCount32();
  const int64_t now = m_manager.Clock().CurrentTime();
  if (!joining) {
    m_running = true;
    m_report = PassReport{};
    SetStatus(kStatusUpdating);
  }
  size_t taken = 0;
  for (ObjectId id : sources) {
    const CFeedSource* s = m_manager.GetFeedSource(id);
    // A source without an address (the welcome page) has nothing to fetch.
    if (s == nullptr || !m_manager.Can(id, CFeedsManager::kCanFetch) || m_inPass.count(id) != 0) continue;
    if (!force && !IsSourceDue(tick, s->m_lastUpdateTick, s->m_refreshInterval)) continue;
    int64_t until = 0;
    const CValidatorStore::Hold hold =
        m_validators.HoldOf(id, s->m_url, s->m_refreshInterval, force, now, &until);
    // A source in its back-off is left alone, as one that is not due.
    if (hold == CValidatorStore::Hold::Backoff) continue;
    m_inPass.insert(id);
    Entry e;
    e.source = id;
    e.url = s->m_url;
    e.tick = tick;
    e.serial = m_nextSerial++;
    if (hold == CValidatorStore::Hold::RetryAfter) {
      e.held = true;
      e.holdUntil = until;
    } else if (fetched != nullptr) {
      // Already here: applied in its turn like any download that arrived.
      // It is parsed here, on the owner's thread: there is no download to
      // do it on.
      e.prefetched = true;
      m_arrived.insert_or_assign(e.serial, Parsed(*fetched, m_hooks.parse, m_inbox->keepParsed, e.url));
    }
    m_queue.push_back(e);
    ++taken;
  }
  {
    std::lock_guard<std::mutex> lock(m_inbox->mutex);
    for (size_t i = m_queue.size() - taken; i < m_queue.size(); ++i) {
      const Entry& e = m_queue[i];
      if (!e.held && !e.prefetched) m_inbox->awaited.emplace(e.serial, e.url);
    }
  }
  if (!m_reader.joinable() && taken > 0) m_reader = std::thread([inbox = m_inbox] { inbox->Read(); });
  // Every request goes out at once, in pass order; the downloader admits
  // them in that order as its limits allow.
  for (size_t i = m_queue.size() - taken; i < m_queue.size(); ++i) {
    Entry& e = m_queue[i];
    if (e.held || e.prefetched) continue;
    DownloadRequest request;
    request.url = Utf16ToUtf8(e.url);
    request.group = m_group;
    if (const SourceUpdateState* st = m_validators.Find(e.source, e.url)) {
      request.etag = st->etag;
      request.lastModified = st->lastModified;
    }
    e.sentValidators = !request.etag.empty() || !request.lastModified.empty();
    Downloader().Start(std::move(request), [inbox = m_inbox, serial = e.serial](DownloadResult r) {
      inbox->Deliver(serial, std::move(r));
    });
  }
  if (!joining) {
    ApplyReady();
  } else if (fetched != nullptr) {
    // No download of it will come to apply it when its turn is there.
    ApplySoon();
  }
  return !joining || taken > 0;
}

ObjectId CUpdateEngine::WaitingFor() const {
  return m_queue.empty() ? 0 : m_queue.front().source;
}

void CUpdateEngine::DrainInbox() {
  std::lock_guard<std::mutex> lock(m_inbox->mutex);
  m_arrived.merge(m_inbox->results);
  m_inbox->results.clear();
}

void CUpdateEngine::Drop(uint64_t serial) {
  m_arrived.erase(serial);
  std::map<uint64_t, Arrived>::node_type dropped;
  std::lock_guard<std::mutex> lock(m_inbox->mutex);
  m_inbox->awaited.erase(serial);
  dropped = m_inbox->results.extract(serial);
}

bool CUpdateEngine::ApplyReady(std::chrono::milliseconds budget) {
  // A hook that calls back in here is served by the loop already running.
  if (!m_running || m_applying) return false;
  m_applying = true;
  DrainInbox();
  const auto start = std::chrono::steady_clock::now();
  bool spent = false;
  while (m_running) {
    if (m_queue.empty()) {
      m_applying = false;
      Finish(false);
      return false;
    }
    Entry& head = m_queue.front();
    const CFeedSource* source = m_manager.GetFeedSource(head.source);
    if (source == nullptr || source->m_url != head.url) {
      // Deleted, or its address changed, while the document was on the way.
      Drop(head.serial);
      m_queue.pop_front();
      continue;
    }
    if (!head.held && !head.announced) {
      head.announced = true;
      const ObjectId id = head.source;
      SetStatus(UpdatingSourceStatus(source->m_title));
      // The status handler may have changed anything.
      if (!m_running || m_queue.empty() || m_queue.front().source != id) continue;
      source = m_manager.GetFeedSource(id);
      if (source == nullptr) continue;
    }
    if (!head.held && m_arrived.count(head.serial) == 0) {
      // It may have come while a hook ran (and its task found this loop
      // busy).
      DrainInbox();
      if (m_arrived.count(head.serial) == 0) break;
    }
    if (spent) {
      m_applying = false;
      return true;
    }
    const Entry e = head;
    m_queue.pop_front();
    Apply(e, *source);
    spent = budget != std::chrono::milliseconds::max() &&
            std::chrono::steady_clock::now() - start >= budget;
  }
  m_applying = false;
  return false;
}

void CUpdateEngine::Apply(const Entry& e, const CFeedSource& source) {
  SourceReport report;
  report.source = e.source;
  const int64_t now = m_manager.Clock().CurrentTime();

  if (e.held) {
    report.fetched = false;
    report.retryUntil = e.holdUntil;
    report.reason = u"the server asked to wait until " + CDateTime::FromTime(e.holdUntil).Format();
    m_validators.Get(e.source, e.url).failure = report.reason;
  } else {
    auto node = m_arrived.extract(e.serial);
    Arrived& a = node.mapped();
    SourceUpdateState& state = m_validators.Get(e.source, e.url);
    state.lastAttempt = now;
    state.retryUntil = 0;
    if (a.result.ok && (a.result.httpStatus == 429 || a.result.httpStatus == 503)) {
      state.retryUntil = ParseRetryAfter(a.result.retryAfter, now);
      report.retryUntil = state.retryUntil;
    }
    if (a.result.ok && a.result.httpStatus == 304 && e.sentValidators) {
      // Unchanged since the document whose articles the model holds.
      m_manager.SetCommsStatus(e.source, kCommsStatusOk, e.tick);
      state.failures = 0;
      report.notModified = true;
    } else {
      const size_t count = source.m_articles.size();
      bool transferFailed = a.failed;
      try {
        if (a.failed || !a.result.ok) {
          // Nothing arrived to be understood: the download failed (the
          // reason, such as the refused connection, goes beside it).
          m_manager.SetCommsStatus(e.source, kCommsDownloadError);
        } else if (m_hooks.interpret) {
          m_hooks.interpret(m_manager, source, a.feed, e.tick);
        } else {
          m_manager.MergeArticles(e.source, std::move(a.reading), e.tick);
        }
      } catch (...) {
        m_manager.SetCommsStatus(e.source, kCommsDownloadError);
        transferFailed = true;
      }
      report.added = source.m_articles.size() > count ? static_cast<int>(source.m_articles.size() - count) : 0;
      if (source.m_commsStatus == kCommsStatusOk) {
        state.failures = 0;
        // Only a whole document that was understood may be skipped later.
        const bool keep = a.result.ok && IsSuccess(a.result.httpStatus);
        state.etag = keep ? a.result.etag : std::string();
        state.lastModified = keep ? a.result.lastModified : std::string();
      } else {
        state.etag.clear();
        state.lastModified.clear();
        ++state.failures;
        report.reason = transferFailed ? std::u16string(u"transfer failed") : FailureReason(a.result, state.retryUntil);
      }
    }
    state.failure = report.reason;
    if (report.reason.empty()) state.lastSuccess = now;
  }

  report.title = source.m_title;
  report.commsStatus = source.m_commsStatus;
  if (report.added > 0) {
    m_report.news = true;
    m_report.added += report.added;
    m_report.sources.push_back({e.source, source.m_title, report.added});
  }
  if (m_hooks.sourceApplied) m_hooks.sourceApplied(report);
}

void CUpdateEngine::Finish(bool cancelled) {
  m_running = false;
  m_queue.clear();
  m_inPass.clear();
  m_arrived.clear();
  PassReport report = std::move(m_report);
  m_report = PassReport{};
  report.cancelled = cancelled;
  SetStatus(kStatusReady);
  if (m_hooks.passFinished) m_hooks.passFinished(report);
}

void CUpdateEngine::RunToCompletion() {
  if (!m_ownQueue) return;
  ApplyReady();
  m_ownQueue->RunUntil([this] { return !m_running; });
}

void CUpdateEngine::Cancel() {
  if (!m_running) return;
  std::map<uint64_t, Arrived> dropped;
  {
    // First, so that a download being parsed right now is dropped when it
    // is done instead of being waited for.
    std::lock_guard<std::mutex> lock(m_inbox->mutex);
    m_inbox->awaited.clear();
    dropped.swap(m_inbox->results);
  }
  if (m_downloader != nullptr) m_downloader->Cancel(m_group);
  dropped.clear();
  Finish(true);
}

}  // namespace qb
