// An updater for window tests: records every update asked for and answers
// it at once (the test's function changes the model, the pass is reported
// as over before the call returns), or passes the call on to another
// updater (the real one, for tests against a loopback server).
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/FeedUpdater.h"
#include "app/QtExecutor.h"
#include "model/FeedsManager.h"

namespace qb::test {

class FakeUpdater : public IFeedUpdater {
 public:
  explicit FakeUpdater(IFeedUpdater* passOn = nullptr) : m_passOn(passOn) {}

  void Attach(CFeedsManager* model) override {
    m_model = model;
    if (m_passOn != nullptr) m_passOn->Attach(model);
  }
  void SetListener(Listener listener) override {
    if (m_passOn != nullptr) m_passOn->SetListener(listener);
    m_listener = std::move(listener);
  }

  // What the engine says on the status line, as it says it.
  void Status(const std::u16string& text) {
    if (m_listener.status) m_listener.status(text);
  }

  bool UpdateAll(bool force) override {
    updateAllCalls.push_back(force);
    if (m_passOn != nullptr && !updateAll) return m_passOn->UpdateAll(force);
    RunPass({}, [&] { return updateAll ? updateAll(*m_model, force) : updateAllResult; });
    return true;
  }
  bool UpdateSources(const IdList& sources, bool force) override {
    for (ObjectId id : sources) updateSourceCalls.push_back({id, force});
    if (m_passOn != nullptr && !updateSource) return m_passOn->UpdateSources(sources, force);
    RunPass(sources, [&] {
      bool news = false;
      for (ObjectId id : sources) news |= updateSource && updateSource(*m_model, id, force);
      return news;
    });
    return true;
  }
  bool UpdateSourceFrom(ObjectId source, const std::u16string& fetchedUrl,
                        const DownloadResult& document) override {
    ++prefetchedUpdates;
    if (m_passOn != nullptr && !updateSource) {
      updateSourceCalls.push_back({source, true});
      return m_passOn->UpdateSourceFrom(source, fetchedUrl, document);
    }
    return UpdateSources({source}, true);
  }
  // Real searches (tests serve the pages from a loopback server).
  std::unique_ptr<CFeedDiscovery> NewDiscovery() override {
    if (m_passOn != nullptr) return m_passOn->NewDiscovery();
    if (!m_pool) {
      m_executor = std::make_unique<CQtExecutor>();
      m_pool = std::make_unique<CDownloadPool>();
    }
    return std::make_unique<CFeedDiscovery>(*m_pool, *m_executor);
  }
  // Article pages through `pageDownloader` when set (an offline fake),
  // else as the searches go.
  std::unique_ptr<CArticlePageFetch> NewArticlePageFetch() override {
    if (pageDownloader == nullptr && m_passOn != nullptr) return m_passOn->NewArticlePageFetch();
    if (!m_executor) m_executor = std::make_unique<CQtExecutor>();
    if (pageDownloader == nullptr && !m_pool) m_pool = std::make_unique<CDownloadPool>();
    return std::make_unique<CArticlePageFetch>(pageDownloader != nullptr ? *pageDownloader : *m_pool, *m_executor);
  }
  bool Busy() const override { return m_passOn != nullptr && m_passOn->Busy(); }
  SourceUpdateState StateOf(ObjectId source) const override {
    auto it = states.find(source);
    if (it != states.end()) return it->second;
    return m_passOn != nullptr ? m_passOn->StateOf(source) : SourceUpdateState{};
  }
  void SourcesRemoved() override {
    ++sourcesRemovedCalls;
    if (m_passOn != nullptr) m_passOn->SourcesRemoved();
  }
  void ForgetSource(ObjectId source) override {
    forgotten.push_back(source);
    if (m_passOn != nullptr) m_passOn->ForgetSource(source);
  }
  void Cancel() override {
    ++cancels;
    if (m_passOn != nullptr) m_passOn->Cancel();
  }
  CValidatorStore* FetchState() override {
    return m_passOn != nullptr ? m_passOn->FetchState() : nullptr;
  }

  IDownloader* pageDownloader = nullptr;
  std::function<bool(CFeedsManager&, bool force)> updateAll;
  std::function<bool(CFeedsManager&, ObjectId source, bool force)> updateSource;
  bool updateAllResult = false;
  std::vector<bool> updateAllCalls;
  std::vector<std::pair<ObjectId, bool>> updateSourceCalls;
  std::vector<ObjectId> forgotten;
  int sourcesRemovedCalls = 0;
  // Updates that came with the document the add-feed search fetched.
  int prefetchedUpdates = 0;
  int cancels = 0;
  // What StateOf answers for a source (before asking the updater passed on).
  std::unordered_map<ObjectId, SourceUpdateState> states;

 private:
  // A pass answered here: `run` changes the model; every source whose
  // articles grew (and each source named) is reported applied, then the
  // pass as over.
  void RunPass(const IdList& named, const std::function<bool()>& run) {
    std::unordered_map<ObjectId, size_t> before;
    IdList sources;
    if (m_model != nullptr) {
      m_model->CollectSources(0, sources);
      for (ObjectId id : sources) before[id] = m_model->GetFeedSource(id)->m_articles.size();
    }
    const bool news = run();
    PassReport pass;
    pass.news = news;
    IdList reported = named;
    if (m_model != nullptr) {
      sources.clear();
      m_model->CollectSources(0, sources);
      for (ObjectId id : sources) {
        const CFeedSource* s = m_model->GetFeedSource(id);
        const size_t was = before.count(id) != 0 ? before[id] : 0;
        if (s->m_articles.size() <= was) continue;
        const int added = static_cast<int>(s->m_articles.size() - was);
        pass.added += added;
        pass.sources.push_back({id, s->m_title, added});
        if (std::find(reported.begin(), reported.end(), id) == reported.end()) reported.push_back(id);
      }
    }
    for (ObjectId id : reported) {
      SourceReport report;
      report.source = id;
      if (m_model != nullptr) {
        if (const CFeedSource* s = m_model->GetFeedSource(id)) {
          report.title = s->m_title;
          report.commsStatus = s->m_commsStatus;
          const size_t was = before.count(id) != 0 ? before[id] : 0;
          report.added = s->m_articles.size() > was ? static_cast<int>(s->m_articles.size() - was) : 0;
        }
      }
      if (m_listener.sourceApplied) m_listener.sourceApplied(report);
    }
    if (m_listener.passFinished) m_listener.passFinished(pass);
  }

  IFeedUpdater* m_passOn;
  CFeedsManager* m_model = nullptr;
  Listener m_listener;
  std::unique_ptr<CQtExecutor> m_executor;
  std::unique_ptr<CDownloadPool> m_pool;
};

}  // namespace qb::test
