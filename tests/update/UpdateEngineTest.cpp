#include "update/UpdateEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/Text.h"
#include "classic/DataFile.h"
#include "formats/Interpret.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeDownloader.h"
#include "tests/support/HttpServer.h"
#include "tests/support/UpdatePasses.h"

namespace qb {
namespace {

using test::FakeDownloader;

std::string Rss(const std::string& channel, const std::vector<std::string>& guids) {
  std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + channel + "</title>";
  for (const std::string& g : guids) s += "<item><title>Item " + g + "</title><guid>" + g + "</guid></item>";
  return s + "</channel></rss>";
}

std::string Atom(const std::string& title, const std::vector<std::string>& ids) {
  std::string s = "<feed><title>" + title + "</title><link rel=\"self\" href=\"http://a/self\"/>";
  for (const std::string& id : ids) s += "<entry><title>E " + id + "</title><id>" + id + "</id></entry>";
  return s + "</feed>";
}

class RecordingStatus : public IStatusHandler {
 public:
  void SetStatusText(const std::u16string& text) override { texts.push_back(text); }
  std::vector<std::u16string> texts;
};

// One engine over one model, with a fake network and a fake clock.
class UpdateEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_clock.tick = [this] { return m_tick; };
    m_clock.time = [this] { return m_now; };
    m_manager.SetClock(m_clock);
    m_manager.SeedRandom(7);
    m_root = m_manager.AddGroup(0, u"All Sources")->m_id;
    MakeEngine();
  }

  void MakeEngine(decltype(CUpdateEngine::Hooks::interpret) interpret = nullptr,
                  decltype(CUpdateEngine::Hooks::parse) parse = nullptr) {
    m_engine.reset();
    m_fakeOwned = std::make_unique<FakeDownloader>();
    m_fake = m_fakeOwned.get();
    CUpdateEngine::Hooks hooks;
    hooks.sourceApplied = [this](const SourceReport& r) { m_applied.push_back(r); };
    hooks.passFinished = [this](const PassReport& r) { m_finished.push_back(r); };
    hooks.status = [this](const std::u16string& text) { m_status.SetStatusText(text); };
    hooks.interpret = std::move(interpret);
    hooks.parse = std::move(parse);
    m_engine = std::make_unique<CUpdateEngine>(m_manager, *m_fake, m_queue, std::move(hooks));
  }

  ObjectId Add(const std::string& url, int32_t minutes = 15, ObjectId group = 0) {
    CFeedSource* s = CModelWriter(m_manager).Source(m_manager.AddSource(group ? group : m_root, Widen(url))->m_id);
    s->m_refreshInterval = minutes;
    return s->m_id;
  }

  // Completes the i-th request and runs the tasks the engine posted.
  void Answer(size_t i, DownloadResult r) {
    m_fake->Complete(i, std::move(r));
    m_engine->WaitForReading();
    m_queue.RunPending();
  }

  std::vector<ObjectId> AppliedIds() const {
    std::vector<ObjectId> ids;
    for (const SourceReport& r : m_applied) ids.push_back(r.source);
    return ids;
  }

  test::FakeClock m_clock;
  uint32_t m_tick = 10'000'000;
  int64_t m_now = 1'600'000'000;
  RecordingStatus m_status;
  CFeedsManager m_manager;
  ObjectId m_root = 0;
  CTaskQueue m_queue;
  std::unique_ptr<FakeDownloader> m_fakeOwned;
  FakeDownloader* m_fake = nullptr;
  std::unique_ptr<CUpdateEngine> m_engine;
  std::vector<SourceReport> m_applied;
  std::vector<PassReport> m_finished;
};

// The tree and the answers of the equality test: nested groups, RSS and
// Atom, documents sharing keys, auto-names, HTML error pages, failed
// transfers, empty bodies.
struct Scripted {
  std::vector<std::pair<std::string, ObjectId>> groupOf;  // url -> group index
  std::map<std::string, DownloadResult> answers;
};

Scripted Script() {
  Scripted s;
  std::vector<std::string> many;
  for (int i = 0; i < 30; ++i) many.push_back("m" + std::to_string(i));
  const std::vector<std::pair<std::string, DownloadResult>> answers = {
      {"u0", FakeDownloader::Body(Rss("Alpha", {"a", "b", "c"}))},
      {"u1", FakeDownloader::Body(Atom("Beta", {"x", "y"}))},
      {"u2", FakeDownloader::Body("<rss><channel><title>C1</title><item><guid>d</guid></item>"
                                  "<item><guid>d</guid></item></channel><channel><title>C2</title>"
                                  "<item><guid>e</guid></item></channel></rss>")},
      {"u3", FakeDownloader::Body("<html><body>Not Found</body></html>", 404)},
      {"u4", FakeDownloader::Failure(DownloadError::Refused)},
      {"u5", FakeDownloader::Body(Rss("Alpha again", {"a", "b"}))},
      {"u6", FakeDownloader::Body("")},
      {"u7", FakeDownloader::Body(Rss("Many", many))},
      {"u8", FakeDownloader::Body(Rss("Caf\xC3\xA9", {"z"}))},
  };
  const int groups[] = {0, 2, 1, 0, 3, 1, 2, 0, 3};
  for (size_t i = 0; i < answers.size(); ++i) {
    s.groupOf.emplace_back(answers[i].first, groups[i]);
    s.answers.emplace(answers[i].first, answers[i].second);
  }
  return s;
}

// Groups 0 root, 1 child of 0, 2 child of 1, 3 a second root; sources
// added in script order.
void BuildScriptedTree(CFeedsManager& m, const Scripted& s) {
  m.SeedRandom(42);
  ObjectId g[4];
  g[0] = m.AddGroup(0, u"Root")->m_id;
  g[1] = m.AddGroup(g[0], u"Child")->m_id;
  g[2] = m.AddGroup(g[1], u"Grandchild")->m_id;
  g[3] = m.AddGroup(0, u"Second")->m_id;
  for (const auto& [url, group] : s.groupOf) m.AddSource(g[group], Widen(url));
}

TEST_F(UpdateEngineTest, ShuffledCompletionsLeaveTheModelOfSequentialUpdates) {
  const Scripted script = Script();

  // The reference: each source interpreted in turn, depth first.
  CFeedsManager reference;
  reference.SetClock(m_clock);
  BuildScriptedTree(reference, script);
  IdList order;
  reference.CollectSources(0, order);
  std::vector<std::string> orderUrls;
  std::vector<std::u16string> expectedStatus{kStatusUpdating};
  const std::string empty = SaveToBytes(reference);
  for (ObjectId id : order) {
    CFeedSource* s = CModelWriter(reference).Source(id);
    orderUrls.push_back(Utf16ToUtf8(s->m_url));
    expectedStatus.push_back(UpdatingSourceStatus(s->m_title));
    const DownloadResult& answer = script.answers.at(orderUrls.back());
    if (answer.ok) {
      ParseAndInterpret(reference, *s, SharedText(DecodeDownload(answer)), m_tick);
    } else {
      s->m_commsStatus = kCommsDownloadError;
    }
  }
  expectedStatus.push_back(kStatusReady);
  const std::string expected = SaveToBytes(reference);
  ASSERT_NE(expected, empty);

  for (unsigned seed = 0; seed < 12; ++seed) {
    SCOPED_TRACE(seed);
    CFeedsManager m;
    m.SetClock(m_clock);
    BuildScriptedTree(m, script);
    RecordingStatus status;
    auto fake = std::make_unique<FakeDownloader>();
    FakeDownloader* f = fake.get();
    std::vector<ObjectId> applied;
    PassReport report;
    CUpdateEngine::Hooks hooks;
    hooks.sourceApplied = [&](const SourceReport& r) { applied.push_back(r.source); };
    hooks.passFinished = [&](const PassReport& r) { report = r; };
    hooks.status = [&](const std::u16string& text) { status.SetStatusText(text); };
    CUpdateEngine engine(m, std::move(hooks), std::move(fake));
    ASSERT_TRUE(engine.UpdateAll(true));
    ASSERT_EQ(f->Urls(), orderUrls);

    std::vector<size_t> shuffled(order.size());
    for (size_t i = 0; i < shuffled.size(); ++i) shuffled[i] = i;
    std::mt19937 random(seed);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    if (seed % 2 == 0) {
      // One at a time on this thread: what is applied is always a prefix
      // of the pass, and never a source whose turn has not come.
      std::vector<bool> done(order.size());
      for (size_t i : shuffled) {
        f->Complete(i, script.answers.at(orderUrls[i]));
        done[i] = true;
        engine.WaitForReading();
        engine.ApplyReady();
        const size_t prefix = std::find(done.begin(), done.end(), false) - done.begin();
        ASSERT_EQ(applied, IdList(order.begin(), order.begin() + prefix));
      }
    } else {
      // All at once from another thread, as the download worker does.
      std::thread network([&] {
        for (size_t i : shuffled) f->Complete(i, script.answers.at(orderUrls[i]));
      });
      engine.RunToCompletion();
      network.join();
    }
    EXPECT_FALSE(engine.Busy());
    EXPECT_EQ(applied, order);
    EXPECT_EQ(SaveToBytes(m), expected);
    for (ObjectId id : order) {
      EXPECT_EQ(m.GetFeedSource(id)->m_lastUpdateTick, reference.GetFeedSource(id)->m_lastUpdateTick);
    }
    EXPECT_EQ(status.texts, expectedStatus);
    int total = 0;
    for (ObjectId id : order) total += static_cast<int>(reference.GetFeedSource(id)->m_articles.size());
    EXPECT_TRUE(report.news);
    EXPECT_EQ(report.added, total);
  }
}

TEST_F(UpdateEngineTest, DueSourcesAndTheTickAreTakenWhenThePassStarts) {
  const ObjectId due = Add("due");                       // never updated
  const ObjectId recent = Add("recent");                 // updated a minute ago
  const ObjectId zero = Add("zero", 0);                  // always due
  const ObjectId year = Add("year", 525'600);            // never due by itself
  CModelWriter(m_manager).Source(due)->m_lastUpdateTick = m_tick - 900'000;
  CModelWriter(m_manager).Source(recent)->m_lastUpdateTick = m_tick - 60'000;
  CModelWriter(m_manager).Source(zero)->m_lastUpdateTick = m_tick;
  CModelWriter(m_manager).Source(year)->m_lastUpdateTick = 0;

  const uint32_t start = m_tick;
  ASSERT_TRUE(m_engine->UpdateAll(false));
  EXPECT_EQ(m_fake->Urls(), (std::vector<std::string>{"due", "zero"}));
  m_tick += 3'600'000;  // the pass takes an hour; the tick stays the one it started with
  Answer(1, FakeDownloader::Body(Rss("Z", {"1"})));
  Answer(0, FakeDownloader::Body(Rss("D", {"1"})));
  EXPECT_EQ(m_manager.GetFeedSource(due)->m_lastUpdateTick, start);
  EXPECT_EQ(m_manager.GetFeedSource(zero)->m_lastUpdateTick, start);
  ASSERT_EQ(m_finished.size(), 1u);

  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->StartedCount(), 6u) << "forced: every source";
}

TEST_F(UpdateEngineTest, APassWithNothingDueEndsAtOnce) {
  const ObjectId s = Add("u");
  CModelWriter(m_manager).Source(s)->m_lastUpdateTick = m_tick;
  EXPECT_TRUE(m_engine->UpdateAll(false));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_fake->StartedCount(), 0u);
  EXPECT_EQ(m_status.texts, (std::vector<std::u16string>{kStatusUpdating, kStatusReady}));
  ASSERT_EQ(m_finished.size(), 1u);
  EXPECT_FALSE(m_finished[0].news);
}

TEST_F(UpdateEngineTest, ASecondRequestJoinsThePassInsteadOfStartingAnother) {
  const ObjectId a = Add("a");
  const ObjectId b = Add("b");
  CModelWriter(m_manager).Source(a)->m_lastUpdateTick = m_tick - 900'000;
  CModelWriter(m_manager).Source(b)->m_lastUpdateTick = m_tick;  // not due

  ASSERT_TRUE(m_engine->UpdateAll(false));
  EXPECT_FALSE(m_engine->UpdateAll(false)) << "an unforced request while a pass runs";
  EXPECT_EQ(m_fake->Urls(), std::vector<std::string>{"a"});
  // A forced one appends what the pass has not taken; "a" is not asked twice.
  EXPECT_TRUE(m_engine->UpdateAll(true));
  EXPECT_FALSE(m_engine->UpdateSources({a, b}, true)) << "both are in the pass already";
  const ObjectId c = Add("c");
  EXPECT_TRUE(m_engine->UpdateSources({c}, true));
  EXPECT_EQ(m_fake->Urls(), (std::vector<std::string>{"a", "b", "c"}));

  Answer(2, FakeDownloader::Body(Rss("C", {"1"})));
  Answer(1, FakeDownloader::Body(Rss("B", {"1"})));
  EXPECT_TRUE(m_applied.empty());
  Answer(0, FakeDownloader::Body(Rss("A", {"1"})));
  EXPECT_EQ(AppliedIds(), (std::vector<ObjectId>{a, b, c}));
  ASSERT_EQ(m_finished.size(), 1u) << "one pass";
  EXPECT_EQ(std::count(m_status.texts.begin(), m_status.texts.end(), kStatusUpdating), 1);
  EXPECT_EQ(m_finished[0].sources.size(), 3u);
}

// An event loop gives the engine a small budget per call and calls again
// while it says more is ready.
TEST_F(UpdateEngineTest, ABudgetLetsTheOwnerApplyASourceAtATime) {
  const ObjectId a = Add("a");
  const ObjectId b = Add("b");
  const ObjectId c = Add("c");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  for (size_t i : {2, 0, 1}) m_fake->Complete(i, FakeDownloader::Body(Rss("T", {std::to_string(i)})));
  m_engine->WaitForReading();
  using std::chrono::milliseconds;
  EXPECT_TRUE(m_engine->ApplyReady(milliseconds(0)));
  EXPECT_EQ(AppliedIds(), std::vector<ObjectId>{a});
  EXPECT_TRUE(m_engine->ApplyReady(milliseconds(0)));
  EXPECT_EQ(AppliedIds(), (std::vector<ObjectId>{a, b}));
  EXPECT_FALSE(m_engine->ApplyReady(milliseconds(0)));
  EXPECT_EQ(AppliedIds(), (std::vector<ObjectId>{a, b, c}));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_finished.size(), 1u);
}

TEST_F(UpdateEngineTest, SourcesDeletedMovedOrReaddressedMidPass) {
  const ObjectId s1 = Add("s1");
  const ObjectId s2 = Add("s2");
  const ObjectId s3 = Add("s3");
  const ObjectId s4 = Add("s4");
  const ObjectId other = m_manager.AddGroup(0, u"Other")->m_id;
  ASSERT_TRUE(m_engine->UpdateAll(true));

  ASSERT_TRUE(m_manager.MoveSource(s2, other));
  m_manager.DeleteSource(m_root, s3);
  CModelWriter(m_manager).Source(s4)->m_url = u"elsewhere";
  for (size_t i : {3, 2, 1, 0}) Answer(i, FakeDownloader::Body(Rss("T" + std::to_string(i), {"k"})));

  // The moved source got its articles where it now is; nothing was made
  // for the deleted one, nor for the one whose address changed.
  EXPECT_EQ(AppliedIds(), (std::vector<ObjectId>{s1, s2}));
  EXPECT_EQ(m_manager.GetFeedSource(s2)->m_articles.size(), 1u);
  EXPECT_EQ(m_manager.GetGroup(other)->m_sources, IdList{s2});
  EXPECT_TRUE(m_manager.GetFeedSource(s4)->m_articles.empty());
  EXPECT_EQ(m_manager.GetFeedSource(s4)->m_title, u"s4");
  IdList articles;
  m_manager.CollectFeeds(0, articles);
  size_t records = 0;
  for (const auto& [id, r] : m_manager.Storage().IdIndex()) records += r->Type() == RecordType::Feed;
  EXPECT_EQ(records, articles.size()) << "no article outside the tree";
  EXPECT_FALSE(m_engine->Busy());

  // The pass never waits for a source that is gone, even when its
  // download never ends.
  ASSERT_TRUE(m_engine->UpdateAll(true));
  ASSERT_EQ(m_fake->Urls().back(), "s2");  // s1 and s4 in the root group, then s2
  Answer(5, FakeDownloader::Body(Rss("T", {"k2"})));
  Answer(6, FakeDownloader::Body(Rss("T", {"k2"})));
  EXPECT_TRUE(m_engine->Busy());
  m_manager.DeleteSource(m_root, s1);
  m_engine->ApplyReady();
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_applied.back().source, s2);
}

TEST_F(UpdateEngineTest, CancelAbandonsThePass) {
  const ObjectId s1 = Add("s1");
  Add("s2");
  Add("s3");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  m_fake->Complete(0, FakeDownloader::Body(Rss("One", {"1"})));
  m_engine->WaitForReading();
  EXPECT_EQ(m_queue.Pending(), 1u) << "an arrival posts a task to the owner";
  m_queue.RunPending();
  ASSERT_EQ(AppliedIds(), std::vector<ObjectId>{s1});
  const uint64_t changes = m_manager.ChangeCount();

  m_engine->Cancel();
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_fake->Cancels(), 1);
  ASSERT_EQ(m_finished.size(), 1u);
  EXPECT_TRUE(m_finished[0].cancelled);
  EXPECT_TRUE(m_finished[0].news) << "what was applied stays";
  EXPECT_EQ(m_status.texts.back(), kStatusReady);
  EXPECT_FALSE(m_fake->Running(1));
  m_fake->Complete(1, FakeDownloader::Body(Rss("Two", {"2"})));
  m_engine->WaitForReading();
  EXPECT_EQ(m_queue.Pending(), 0u);
  EXPECT_EQ(m_manager.ChangeCount(), changes);

  // A new pass takes every source again.
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->StartedCount(), 6u);
}

// Documents are parsed on the engine's reading thread, neither where the
// download is delivered nor on the owner's; the model's half runs on the
// owner's thread, each source with the document of its own address.
TEST_F(UpdateEngineTest, DocumentsAreParsedOffBothThreadsAndMergedByTheOwner) {
  std::mutex mutex;
  std::vector<std::thread::id> parsedOn;
  struct Interpreted {
    std::thread::id thread;
    ObjectId source;
    std::u16string text;
    bool holdsFeed;
  };
  std::vector<Interpreted> interpreted;
  MakeEngine(
      [&](CFeedsManager& m, const CFeedSource& s, const CParsedFeed& feed, uint32_t tick) {
        interpreted.push_back({std::this_thread::get_id(), s.m_id, feed.Text().str(), HoldsFeed(feed)});
        return InterpretFeed(m, s, feed, tick);
      },
      [&](const SharedText& text) {
        std::lock_guard<std::mutex> lock(mutex);
        parsedOn.push_back(std::this_thread::get_id());
        return ParseFeed(text);
      });
  const std::vector<std::string> documents = {Rss("A", {"1"}), Atom("B", {"2", "3"}), Rss("C", {"4"})};
  std::vector<ObjectId> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(Add("u" + std::to_string(i)));
  ASSERT_TRUE(m_engine->UpdateAll(true));

  std::thread network([&] {
    for (size_t i : {2, 0, 1}) m_fake->Complete(i, FakeDownloader::Body(documents[i]));
  });
  const std::thread::id networkId = network.get_id();
  network.join();
  m_engine->WaitForReading();
  EXPECT_TRUE(interpreted.empty()) << "nothing touches the model before the owner runs its tasks";
  m_queue.RunPending();

  EXPECT_FALSE(m_engine->Busy());
  ASSERT_EQ(parsedOn.size(), 3u);
  for (std::thread::id id : parsedOn) {
    EXPECT_EQ(id, parsedOn[0]);
    EXPECT_NE(id, networkId);
    EXPECT_NE(id, std::this_thread::get_id());
  }
  ASSERT_EQ(interpreted.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(interpreted[i].thread, std::this_thread::get_id());
    EXPECT_EQ(interpreted[i].source, ids[i]);
    EXPECT_EQ(interpreted[i].text, Widen(documents[i]));
    EXPECT_TRUE(interpreted[i].holdsFeed);
  }
  EXPECT_EQ(m_manager.GetFeedSource(ids[1])->m_articles.size(), 2u);
}

// A large document being parsed holds up no other transfer: the download
// pool delivers each result and goes on at once.
TEST_F(UpdateEngineTest, ADocumentBeingParsedHoldsUpNoDelivery) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  MakeEngine(nullptr, [released](const SharedText& text) {
    released.wait();
    return ParseFeed(text);
  });
  std::vector<ObjectId> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(Add("u" + std::to_string(i)));
  ASSERT_TRUE(m_engine->UpdateAll(true));
  std::promise<void> delivered;
  std::future<void> allDelivered = delivered.get_future();
  std::thread network([&] {
    for (size_t i = 0; i < 3; ++i) m_fake->Complete(i, FakeDownloader::Body(Rss("T", {std::to_string(i)})));
    delivered.set_value();
  });
  const bool inTime = allDelivered.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  release.set_value();
  network.join();
  EXPECT_TRUE(inTime) << "every delivery returned while the first document was still being parsed";
  m_engine->WaitForReading();
  m_queue.RunPending();
  EXPECT_FALSE(m_engine->Busy());
  for (ObjectId id : ids) EXPECT_EQ(m_manager.GetFeedSource(id)->m_articles.size(), 1u);
}

// Records the text of every document parsed, so that a test can tell
// whether anything still holds it.
class ParseLog {
 public:
  decltype(CUpdateEngine::Hooks::parse) Hook() {
    return [this](const SharedText& text) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_texts.emplace(text.str(), text.handle());
      return ParseFeed(text);
    };
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts.size();
  }
  bool Parsed(const std::string& document) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts.count(Widen(document)) != 0;
  }
  // Whether the parsed document of this text is still alive somewhere.
  bool Held(const std::string& document) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_texts.find(Widen(document));
    return it != m_texts.end() && !it->second.expired();
  }

 private:
  mutable std::mutex m_mutex;
  std::multimap<std::u16string, std::weak_ptr<const std::u16string>> m_texts;
};

TEST_F(UpdateEngineTest, AParsedDocumentIsHeldOnlyUntilItsSourceIsDone) {
  ParseLog log;
  std::vector<std::string> heldWhenApplied;
  std::map<ObjectId, std::string> documentOf;
  CUpdateEngine::Hooks hooks;
  hooks.parse = log.Hook();
  hooks.sourceApplied = [&](const SourceReport& r) {
    m_applied.push_back(r);
    if (log.Held(documentOf[r.source])) heldWhenApplied.push_back(documentOf[r.source]);
  };
  m_engine = std::make_unique<CUpdateEngine>(m_manager, *m_fake, m_queue, std::move(hooks));
  std::vector<ObjectId> ids;
  std::vector<std::string> documents;
  for (int i = 0; i < 4; ++i) {
    ids.push_back(Add("u" + std::to_string(i)));
    documents.push_back(Rss("T" + std::to_string(i), {"k" + std::to_string(i)}));
    documentOf[ids.back()] = documents.back();
  }

  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(1, FakeDownloader::Body(documents[1]));
  EXPECT_TRUE(log.Held(documents[1])) << "waits, parsed, for the source before it";
  Answer(0, FakeDownloader::Body(documents[0]));
  EXPECT_EQ(AppliedIds(), (std::vector<ObjectId>{ids[0], ids[1]}));
  EXPECT_FALSE(log.Held(documents[0]));
  EXPECT_FALSE(log.Held(documents[1]));

  // The last source goes while its document waits: dropped in its turn.
  Answer(3, FakeDownloader::Body(documents[3]));
  EXPECT_TRUE(log.Held(documents[3]));
  m_manager.DeleteSource(m_root, ids[3]);
  Answer(2, FakeDownloader::Body(documents[2]));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_FALSE(log.Held(documents[2]));
  EXPECT_FALSE(log.Held(documents[3]));
  EXPECT_TRUE(heldWhenApplied.empty()) << "a document is gone before its source is reported";

  // A source that left the pass before its download came: the download is
  // neither parsed nor kept.
  ASSERT_TRUE(m_engine->UpdateAll(true));
  ASSERT_EQ(m_fake->Urls().back(), "u2");
  m_manager.DeleteSource(m_root, ids[1]);
  const std::string late = Rss("Late", {"late"});
  Answer(4, FakeDownloader::Body(documents[0]));
  EXPECT_TRUE(m_engine->Busy()) << "waits for the third source";
  Answer(5, FakeDownloader::Body(late));
  EXPECT_FALSE(log.Parsed(late));
  Answer(6, FakeDownloader::Body(documents[2]));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(log.Count(), 6u);
}

TEST_F(UpdateEngineTest, CancelDropsParsedDocumentsAndTheNextPassGetsItsOwn) {
  ParseLog log;
  MakeEngine(nullptr, log.Hook());
  const ObjectId a = Add("a");
  const ObjectId b = Add("b");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  const std::string stale = Rss("Stale", {"stale"});
  Answer(1, FakeDownloader::Body(stale));
  ASSERT_TRUE(log.Held(stale));
  m_engine->Cancel();
  EXPECT_FALSE(log.Held(stale)) << "nothing of a cancelled pass is kept";
  EXPECT_EQ(m_queue.Pending(), 0u);

  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(3, FakeDownloader::Body(Rss("B", {"b1", "b2"})));
  Answer(2, FakeDownloader::Body(Rss("A", {"a1"})));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_manager.GetFeedSource(a)->m_title, u"A");
  EXPECT_EQ(m_manager.GetFeedSource(b)->m_title, u"B");
  EXPECT_EQ(m_manager.GetFeedSource(b)->m_articles.size(), 2u);
  EXPECT_EQ(m_manager.GetFeedSource(a)->m_articles.size(), 1u);
}

TEST_F(UpdateEngineTest, ValidatorsAskOnlyForChangedDocuments) {
  int interpreted = 0;
  MakeEngine([&](CFeedsManager& m, const CFeedSource& s, const CParsedFeed& feed, uint32_t tick) {
    ++interpreted;
    return InterpretFeed(m, s, feed, tick);
  });
  const ObjectId id = Add("feed");
  CFeedSource& s = *CModelWriter(m_manager).Source(id);
  auto withValidators = [](DownloadResult r, std::string etag) {
    r.etag = std::move(etag);
    r.lastModified = "Mon, 04 May 2009 10:20:30 GMT";
    return r;
  };

  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_TRUE(m_fake->Request(0).etag.empty());
  Answer(0, withValidators(FakeDownloader::Body(Rss("News", {"a"})), "\"v1\""));
  ASSERT_EQ(interpreted, 1);

  m_tick += 1000;
  s.m_commsStatus = u"stale";
  const uint64_t changes = m_manager.ChangeCount();
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->Request(1).etag, "\"v1\"");
  EXPECT_EQ(m_fake->Request(1).lastModified, "Mon, 04 May 2009 10:20:30 GMT");
  Answer(1, FakeDownloader::Body("", 304));
  EXPECT_EQ(interpreted, 1) << "a 304 is not parsed";
  EXPECT_TRUE(m_applied.back().notModified);
  EXPECT_EQ(s.m_commsStatus, kCommsStatusOk);
  EXPECT_EQ(s.m_lastUpdateTick, m_tick);
  EXPECT_EQ(s.m_articles.size(), 1u);
  EXPECT_NE(m_manager.ChangeCount(), changes) << "the status changed back";

  // Once more: a 304 that changes nothing is no change.
  m_tick += 1000;
  const uint64_t unchanged = m_manager.ChangeCount();
  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(2, FakeDownloader::Body("", 304));
  EXPECT_EQ(m_manager.ChangeCount(), unchanged);

  // A document not understood drops the validators.
  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(3, withValidators(FakeDownloader::Body("<html/>"), "\"v2\""));
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_TRUE(m_fake->Request(4).etag.empty());
  Answer(4, withValidators(FakeDownloader::Body(Rss("News", {"a", "b"})), "\"v3\""));
  EXPECT_EQ(s.m_articles.size(), 2u);

  // A cleared history or a new address asks for the whole document.
  m_engine->ForgetSource(id);
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_TRUE(m_fake->Request(5).etag.empty());
  Answer(5, withValidators(FakeDownloader::Body(Rss("News", {"a", "b"})), "\"v3\""));
  s.m_url = u"moved";
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_TRUE(m_fake->Request(6).etag.empty());
  // A 304 to a request without validators is an empty answer, not "unchanged".
  Answer(6, FakeDownloader::Body("", 304));
  EXPECT_EQ(s.m_commsStatus, kCommsStatusNotUnderstood);
}

TEST_F(UpdateEngineTest, FailingSourcesAreRetriedWithAGrowingDelay) {
  const ObjectId id = Add("flaky", 3);
  const int64_t t0 = m_now;
  // Unforced passes at these times (seconds after the first failure): the
  // delays are 1, 2, 3, 3 minutes (never longer than the 3-minute interval).
  struct Step {
    int64_t at;
    bool fetched;
  };
  const Step steps[] = {{0, true},    {59, false},  {60, true},   {179, false},
                        {180, true},  {359, false}, {360, true},  {539, false},
                        {540, true}};
  size_t requests = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at);
    m_now = t0 + step.at;
    m_tick += 10 * 60'000;  // always due by its interval
    ASSERT_TRUE(m_engine->UpdateAll(false));
    ASSERT_EQ(m_fake->StartedCount(), requests + (step.fetched ? 1 : 0));
    if (step.fetched) Answer(requests++, FakeDownloader::Failure(DownloadError::Refused));
    EXPECT_FALSE(m_engine->Busy());
  }
  EXPECT_EQ(m_applied.back().reason, u"connection refused");
  EXPECT_EQ(m_manager.GetFeedSource(id)->m_commsStatus, kCommsDownloadError);

  // A forced update always tries; a success ends the back-off.
  m_now += 1;
  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(requests++, FakeDownloader::Body(Rss("Back", {"1"})));
  EXPECT_TRUE(m_applied.back().reason.empty());
  m_now += 1;
  m_tick += 10 * 60'000;
  ASSERT_TRUE(m_engine->UpdateAll(false));
  EXPECT_EQ(m_fake->StartedCount(), requests + 1);
}

TEST_F(UpdateEngineTest, EachFailureHasAReasonBesideTheStoredStatus) {
  struct Case {
    DownloadResult answer;
    std::u16string reason;
    std::u16string status;
  };
  const Case cases[] = {
      // A failed connection is no document that was not understood.
      {FakeDownloader::Failure(DownloadError::HostNotFound), u"host not found", kCommsDownloadError},
      {FakeDownloader::Failure(DownloadError::Refused), u"connection refused", kCommsDownloadError},
      {FakeDownloader::Failure(DownloadError::TimedOut), u"did not answer in time", kCommsDownloadError},
      {FakeDownloader::Body("<html>gone</html>", 410), u"HTTP status 410", kCommsStatusNotUnderstood},
      {FakeDownloader::Body("<html>a page</html>"), u"not a feed", kCommsStatusNotUnderstood},
      {FakeDownloader::Body("throw"), u"transfer failed", kCommsDownloadError},
      {FakeDownloader::Body("parse throws"), u"transfer failed", kCommsDownloadError},
      {FakeDownloader::Body(Rss("Fine", {})), u"", kCommsStatusOk},
  };
  MakeEngine(
      [](CFeedsManager& m, const CFeedSource& s, const CParsedFeed& feed, uint32_t tick) {
        if (feed.Text().str() == u"throw") throw std::bad_alloc();
        return InterpretFeed(m, s, feed, tick);
      },
      [](const SharedText& text) {
        if (text.str() == u"parse throws") throw std::bad_alloc();
        return ParseFeed(text);
      });
  std::vector<ObjectId> ids;
  for (size_t i = 0; i < std::size(cases); ++i) ids.push_back(Add("u" + std::to_string(i)));
  ASSERT_TRUE(m_engine->UpdateAll(true));
  for (size_t i = 0; i < std::size(cases); ++i) Answer(i, cases[i].answer);
  ASSERT_EQ(m_applied.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(m_applied[i].reason, cases[i].reason) << i;
    EXPECT_EQ(m_applied[i].commsStatus, cases[i].status) << i;
    EXPECT_EQ(m_manager.GetFeedSource(ids[i])->m_commsStatus, cases[i].status) << i;
  }
}

TEST_F(UpdateEngineTest, RetryAfterHoldsBackEvenForcedUpdates) {
  const ObjectId id = Add("busy");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  DownloadResult busy = FakeDownloader::Body("<html>later</html>", 503);
  busy.retryAfter = "120";
  Answer(0, busy);
  EXPECT_EQ(m_applied.back().retryUntil, m_now + 120);
  EXPECT_EQ(m_applied.back().reason,
            u"HTTP status 503; the server allows the next try at " +
                CDateTime::FromTime(m_now + 120).Format());

  m_now += 60;
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->StartedCount(), 1u);
  EXPECT_FALSE(m_applied.back().fetched);
  EXPECT_EQ(m_applied.back().source, id);
  EXPECT_NE(m_applied.back().reason.find(u"asked to wait"), std::u16string::npos);

  m_now += 60;
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->StartedCount(), 2u);
}

TEST_F(UpdateEngineTest, AnUnchangedDocumentLeavesTheChangeCount) {
  Add("u");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  const uint64_t before = m_manager.ChangeCount();
  Answer(0, FakeDownloader::Body(Rss("T", {"1", "2"})));
  EXPECT_GT(m_manager.ChangeCount(), before);

  const uint64_t after = m_manager.ChangeCount();
  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(1, FakeDownloader::Body(Rss("T", {"1", "2"})));
  EXPECT_EQ(m_manager.ChangeCount(), after);
  EXPECT_FALSE(m_finished.back().news);
}

TEST_F(UpdateEngineTest, SourcesWithoutAnAddressAreNeverFetched) {
  CFeedSource* welcome = CModelWriter(m_manager).Source(m_manager.AddSource(m_root, u"")->m_id);
  welcome->m_title = u"Welcome!";
  const ObjectId fed = Add("u");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->Urls(), std::vector<std::string>{"u"});
  Answer(0, FakeDownloader::Body(Rss("T", {"1"})));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(AppliedIds(), std::vector<ObjectId>{fed});
  // Nothing failed, so it carries no warning.
  EXPECT_EQ(m_engine->Validators().Find(welcome->m_id, u""), nullptr);
  // Alone, it makes a pass with nothing to fetch.
  m_applied.clear();
  ASSERT_TRUE(m_engine->UpdateSources({welcome->m_id}, true));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_TRUE(m_applied.empty());
  EXPECT_EQ(m_fake->StartedCount(), 1u);
}

TEST_F(UpdateEngineTest, TheLastAttemptIsKeptWithTheValidators) {
  const ObjectId id = Add("u");
  ASSERT_TRUE(m_engine->UpdateAll(true));
  Answer(0, FakeDownloader::Failure(DownloadError::HostNotFound));
  const SourceUpdateState* failed = m_engine->Validators().Find(id, u"u");
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->failure, u"host not found");
  EXPECT_EQ(failed->lastAttempt, m_now);
  EXPECT_EQ(failed->lastSuccess, 0);
  EXPECT_EQ(failed->failures, 1u);

  m_now += 100;
  ASSERT_TRUE(m_engine->UpdateAll(true));
  DownloadResult ok = FakeDownloader::Body(Rss("T", {"1"}));
  ok.etag = "\"v1\"";
  Answer(1, ok);
  const SourceUpdateState* fine = m_engine->Validators().Find(id, u"u");
  ASSERT_NE(fine, nullptr);
  EXPECT_EQ(fine->failure, u"");
  EXPECT_EQ(fine->lastAttempt, m_now);
  EXPECT_EQ(fine->lastSuccess, m_now);
  EXPECT_EQ(fine->failures, 0u);
  EXPECT_EQ(fine->etag, "\"v1\"");

  // Clearing the history forgets the validators, not how the source did.
  m_engine->ForgetSource(id);
  ASSERT_NE(m_engine->Validators().Find(id, u"u"), nullptr);
  EXPECT_EQ(m_engine->Validators().Find(id, u"u")->etag, "");
  EXPECT_EQ(m_engine->Validators().Find(id, u"u")->lastSuccess, m_now);
}

TEST_F(UpdateEngineTest, ADocumentAlreadyFetchedIsAppliedWithoutAskingAgain) {
  const ObjectId id = Add("http://x/feed");
  DownloadResult fetched = FakeDownloader::Body(Rss("Fetched", {"1", "2"}));
  fetched.etag = "\"e\"";
  ASSERT_TRUE(m_engine->UpdateSourceFrom(id, u"http://x/feed", fetched));
  m_queue.RunPending();
  EXPECT_EQ(m_fake->StartedCount(), 0u);
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_manager.GetFeedSource(id)->m_title, u"Fetched");
  EXPECT_EQ(m_manager.GetFeedSource(id)->m_articles.size(), 2u);
  ASSERT_EQ(m_finished.size(), 1u);
  EXPECT_EQ(m_finished[0].added, 2);
  // Its validators serve the next update, as for any download.
  ASSERT_TRUE(m_engine->UpdateAll(true));
  EXPECT_EQ(m_fake->Request(0).etag, "\"e\"");
  Answer(0, FakeDownloader::Body("", 304));

  // A document of another address, or a transfer that failed, is not used.
  const ObjectId other = Add("http://y/feed");
  ASSERT_TRUE(m_engine->UpdateSourceFrom(other, u"http://x/feed", fetched));
  EXPECT_EQ(m_fake->Urls().back(), "http://y/feed");
  Answer(1, FakeDownloader::Body(Rss("Y", {"y"})));
  EXPECT_EQ(m_manager.GetFeedSource(other)->m_title, u"Y");
  ASSERT_TRUE(m_engine->UpdateSourceFrom(other, u"http://y/feed", FakeDownloader::Failure(DownloadError::Refused)));
  EXPECT_EQ(m_fake->StartedCount(), 3u);

  // Joining a pass that runs, it is applied in its turn, after the source
  // the pass waits for.
  const ObjectId third = Add("http://z/feed");
  ASSERT_TRUE(m_engine->UpdateSourceFrom(third, u"http://z/feed", FakeDownloader::Body(Rss("Z", {"z"}))));
  m_queue.RunPending();
  EXPECT_TRUE(m_manager.GetFeedSource(third)->m_articles.empty());
  Answer(2, FakeDownloader::Body(Rss("Y", {"y"})));
  EXPECT_FALSE(m_engine->Busy());
  EXPECT_EQ(m_manager.GetFeedSource(third)->m_title, u"Z");
  EXPECT_EQ(AppliedIds().back(), third);
  EXPECT_EQ(m_fake->StartedCount(), 3u);
}

// Exit during a pass: the real transfers end within a second of Cancel,
// and a pass on the same pool of another owner is left alone.
TEST(UpdateEngineNetworkTest, CancelEndsRealTransfersWithinASecond) {
  using namespace std::chrono_literals;
  test::HttpServer server;
  test::HttpResponse silent;
  silent.neverAnswer = true;
  server.Set("/silent", silent);
  test::HttpResponse slow = test::HttpResponse::Ok(Rss("Slow", {"1"}));
  slow.delay = 300ms;
  server.Set("/slow", slow);
  CFeedsManager m;
  m.FixUpAfterLoad();
  for (int i = 0; i < 3; ++i) m.AddSource(m.RootGroups().front(), server.Url16("/silent"));
  CFeedsManager other;
  other.FixUpAfterLoad();
  const ObjectId slowSource = other.AddSource(other.RootGroups().front(), server.Url16("/slow"))->m_id;

  CDownloadPool pool;
  CTaskQueue queue;
  CUpdateEngine engine(m, pool, queue);
  CUpdateEngine neighbour(other, pool, queue);
  ASSERT_TRUE(engine.UpdateAll(true));
  ASSERT_TRUE(neighbour.UpdateAll(true));
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (server.Counts().accepted < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(server.Counts().accepted, 4);

  const auto start = std::chrono::steady_clock::now();
  engine.Cancel();
  EXPECT_FALSE(engine.Busy());
  while (server.Counts().open > 1 && std::chrono::steady_clock::now() - start < 5s) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_LE(server.Counts().open, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  // The neighbour's transfer was not touched: its pass ends with the feed.
  ASSERT_TRUE(queue.RunUntil([&] { return !neighbour.Busy(); }, 10s));
  EXPECT_EQ(other.GetFeedSource(slowSource)->m_articles.size(), 1u);
  EXPECT_EQ(queue.Pending(), 0u);
}

}  // namespace
}  // namespace qb
