#include "sync/AccountSync.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "base/Text.h"
#include "library/Library.h"
#include "model/FeedReading.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

std::u16string Count(size_t n) {
  const std::string digits = std::to_string(n);
  std::u16string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(u',');
    out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}

}  // namespace

std::u16string SyncProgressText(const std::u16string& account, size_t done, size_t total) {
  return u"Syncing " + account + u": " + Count(done) + u" of " + Count(total) + u" articles";
}

struct CAccountSync::Run {
  ObjectId account = 0;
  Progress progress;
  Done done;
  // The queue as the sync read it, and the marks made here that were not
  // yet written then: both newer than the pull for the articles they name.
  uint64_t lastSeq = 0;
  std::unordered_set<std::string> unwritten;
  uint64_t markCount = 0;
};

CAccountSync::CAccountSync(CFeedsManager& model, CLibrary& library, CSyncModule& module, IExecutor& owner)
    : m_model(model), m_library(library), m_module(module), m_owner(owner) {}

CAccountSync::~CAccountSync() = default;

void CAccountSync::Start(ObjectId account, CGReaderClient& client, Progress progress, Done done) {
  auto run = std::make_shared<Run>();
  run->account = account;
  run->progress = std::move(progress);
  run->done = std::move(done);
  const auto fail = [&](GReaderStatus status, std::u16string message) {
    AccountSyncResult result;
    result.error = {status, 0, std::move(message)};
    m_owner.Post([run, result] { run->done(result); });
  };
  if (m_module.Account(account) == nullptr || m_model.GetGroup(account) == nullptr) {
    return fail(GReaderStatus::kLocal, u"No such account is stored.");
  }
  std::string error;
  if (!m_module.TakeLease(m_library, account, m_model.Clock().CurrentTime(), kLeaseSeconds, nullptr, &error)) {
    const bool later = error.empty() || error == kLibraryBusy;
    return fail(GReaderStatus::kLocal, later ? kSyncLeaseHeld : u"The library could not be written: " + Utf8ToUtf16(error));
  }
  GReaderSyncInput input;
  if (!m_module.ReadQueue(m_library, account, input.local.pending)) {
    m_module.ReleaseLease(m_library, account);
    return fail(GReaderStatus::kLocal, u"The library could not be read.");
  }
  for (const PendingMark& m : input.local.pending) run->lastSeq = std::max(run->lastSeq, m.seq);
  run->unwritten = m_module.UnwrittenItems(account);
  run->markCount = m_module.MarkCount();
  // The account's articles with their flags, and the ids the user deleted
  // (those of the feeds' histories too, which keep them for a while).
  input.local.deleted = m_module.DeletedOf(account);
  std::unordered_set<std::u16string> stored;
  for (const auto& [id, article] : m_module.ArticlesOf(account)) {
    const CFeed* a = m_model.GetFeed(article);
    input.local.items[id] = {a->m_read, a->m_starred};
    stored.insert(a->m_key);
  }
  IdList sources;
  m_model.CollectSources(account, sources);
  for (ObjectId sid : sources) {
    for (const auto& [key, entry] : m_model.GetFeedSource(sid)->m_history) {
      if (stored.count(key) == 0) input.local.deleted.insert(Utf16ToUtf8(key));
    }
  }
  m_running = true;
  client.Sync(
      std::move(input),
      [this, run](GReaderSyncProgress p) {
        if (run->progress) m_owner.Post([run, p] { run->progress(p.itemsFetched, p.itemsToFetch); });
      },
      [this, run](GReaderReply<GReaderSyncOutcome> reply) {
        m_owner.Post([this, run, outcome = std::move(reply.value)]() mutable { Apply(run, std::move(outcome)); });
      });
}

void CAccountSync::Apply(const std::shared_ptr<Run>& run, GReaderSyncOutcome outcome) {
  AccountSyncResult result;
  result.error = outcome.error;
  result.pushed = outcome.acknowledged.size();
  result.requests = outcome.requests;
  m_module.Acknowledge(outcome.acknowledged);
  if (outcome.pulled && m_model.GetGroup(run->account) != nullptr) {
    m_model.ApplyAccountState([&] { ApplyPulled(*run, outcome, result); });
    result.pulled = true;
  }
  m_module.ReleaseLeaseWithBatch(run->account, m_library.Writer());
  m_running = false;
  run->done(std::move(result));
}

void CAccountSync::ApplyPulled(Run& run, GReaderSyncOutcome& outcome, AccountSyncResult& result) {
  const ObjectId account = run.account;
  // Articles whose marks are newer than what the server said: made here
  // since, not yet written when the sync read the queue, or queued by
  // another process since.
  std::unordered_set<std::string> keep = m_module.MarkedSince(run.markCount);
  keep.insert(run.unwritten.begin(), run.unwritten.end());
  std::vector<PendingMark> queue;
  if (m_module.ReadQueue(m_library, account, queue)) {
    for (const PendingMark& m : queue) {
      if (m.seq > run.lastSeq) keep.insert(m.id);
    }
  }

  // Folders: the account's groups, by name.
  std::map<std::u16string, ObjectId> folders;
  for (ObjectId g : m_model.GetGroup(account)->m_childGroups) {
    if (const CGroup* group = m_model.GetGroup(g)) folders.emplace(group->m_name, g);
  }
  std::unordered_set<std::u16string> listedFolders;
  for (const GReaderFolder& f : outcome.folders) listedFolders.insert(f.name);
  const auto folderOf = [&](const GReaderSubscription& sub) -> ObjectId {
    for (const std::string& label : sub.folders) {
      if (std::optional<std::u16string> name = LabelOf(label); name && !name->empty()) {
        listedFolders.insert(*name);
        auto it = folders.find(*name);
        if (it == folders.end()) it = folders.emplace(*name, m_model.AddGroup(account, *name)->m_id).first;
        return it->second;
      }
    }
    return account;
  };

  // Subscriptions: the account's sources, by their feed's address.
  IdList sources;
  m_model.CollectSources(account, sources);
  std::unordered_map<std::u16string, ObjectId> byUrl;
  for (ObjectId sid : sources) byUrl.emplace(m_model.GetFeedSource(sid)->m_url, sid);
  std::unordered_map<std::string, ObjectId> byStream;
  std::unordered_map<std::string, const GReaderSubscription*> subscription;
  std::unordered_set<ObjectId> listedSources;
  for (const GReaderSubscription& sub : outcome.subscriptions) {
    const std::u16string url = Utf8ToUtf16(sub.url);
    if (url.empty()) continue;
    const ObjectId target = folderOf(sub);
    ObjectId sid = 0;
    if (auto it = byUrl.find(url); it != byUrl.end()) {
      sid = it->second;
      if (m_model.FindGroupOfSource(sid) == nullptr || m_model.FindGroupOfSource(sid)->m_id != target) {
        m_model.MoveSource(sid, target);
      }
    } else {
      sid = m_model.AddSource(target, url, Utf8ToUtf16(sub.htmlUrl))->m_id;
      byUrl.emplace(url, sid);
    }
    if (!sub.title.empty() && m_model.GetFeedSource(sid)->m_title != sub.title) m_model.Rename(sid, sub.title);
    byStream.emplace(sub.id, sid);
    subscription.emplace(sub.id, &sub);
    listedSources.insert(sid);
  }

  // Flags and removals of stored articles.
  const std::unordered_map<std::string, ObjectId> articles = m_module.ArticlesOf(account);
  for (const StateChange& c : outcome.plan.apply) {
    auto it = articles.find(c.id);
    if (it == articles.end() || keep.count(c.id) != 0) continue;
    m_model.MarkRead({it->second}, c.state.read);
    m_model.SetStarred({it->second}, c.state.starred);
    ++result.changed;
  }
  IdList gone;
  for (const std::string& id : outcome.plan.remove) {
    auto it = articles.find(id);
    if (it != articles.end() && keep.count(id) == 0) gone.push_back(it->second);
  }
  m_model.DeleteArticles(gone);
  result.removed = gone.size();

  // New articles, into their subscriptions' sources, keyed by item id.
  std::map<ObjectId, std::vector<const GReaderItem*>> bySource;
  for (const GReaderItem& item : outcome.items) {
    auto it = byStream.find(item.streamId);
    if (it != byStream.end()) bySource[it->second].push_back(&item);
  }
  const uint32_t tick = m_model.Clock().GetTickCount32();
  for (const auto& [sid, items] : bySource) {
    const CFeedSource* source = m_model.GetFeedSource(sid);
    FeedReading reading;
    reading.understood = true;
    for (const auto& [stream, s] : subscription) {
      if (byStream.at(stream) == sid) reading.title = s->title;
    }
    for (const GReaderItem* item : items) {
      ArticleCandidate c;
      c.fields.m_channel = reading.title.empty() ? source->m_title : reading.title;
      c.fields.m_title = item->title.empty() ? u"<Untitled>" : item->title;
      c.fields.m_link = item->link;
      c.fields.m_key = Utf8ToUtf16(item->id);
      const int64_t when = item->published != 0 ? item->published : item->updated;
      c.fields.m_date = when != 0 ? CDateTime::FromTime(when) : CDateTime::Invalid();
      c.fields.m_read = item->read;
      c.fields.m_arrived = item->crawledUsec > 0 ? item->crawledUsec / 1000000 : 0;
      c.description = item->content;
      reading.articles.push_back(std::move(c));
    }
    m_model.MergeArticles(sid, std::move(reading), tick);
    source = m_model.GetFeedSource(sid);
    IdList starred;
    for (const GReaderItem* item : items) {
      auto h = source->m_history.find(Utf8ToUtf16(item->id));
      if (h == source->m_history.end() || m_model.GetFeed(h->second.articleId) == nullptr) continue;
      if (articles.count(item->id) != 0) continue;
      m_module.SetItemId(h->second.articleId, account, item->id);
      if (item->starred) starred.push_back(h->second.articleId);
      ++result.added;
    }
    m_model.SetStarred(starred, true);
  }

  // What the server no longer lists: a subscription once it holds nothing
  // starred, a folder once it is empty.
  for (ObjectId sid : sources) {
    const CFeedSource* s = m_model.GetFeedSource(sid);
    if (s == nullptr || listedSources.count(sid) != 0 || !s->m_articles.empty()) continue;
    if (const CGroup* g = m_model.FindGroupOfSource(sid)) m_model.DeleteSource(g->m_id, sid);
  }
  for (const auto& [name, gid] : folders) {
    const CGroup* g = m_model.GetGroup(gid);
    if (g != nullptr && listedFolders.count(name) == 0 && g->m_sources.empty() && g->m_childGroups.empty()) {
      m_model.DeleteGroup(gid);
    }
  }
}

}  // namespace qb
