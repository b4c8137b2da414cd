// The window's feed updater: the core's update engine on the window's
// thread, over the program's one download pool. Results come back through
// the window's executor and are applied in small slices (one source, or a
// few milliseconds) between events, so the event loop keeps running while
// documents are fetched.
#pragma once

#include <QObject>
#include <memory>

#include "app/FeedUpdater.h"

namespace qb {

class CQtExecutor;

class CUpdateService final : public QObject, public IFeedUpdater {
  Q_OBJECT
 public:
  // Fetches through `downloader` and applies from tasks on `executor`
  // (which runs them on this thread); both must outlive the service.
  CUpdateService(IDownloader& downloader, IExecutor& executor, QObject* parent = nullptr);
  // With a download pool and an executor of its own (tests, benchmarks).
  explicit CUpdateService(QObject* parent = nullptr);
  ~CUpdateService() override;

  void Attach(CFeedsManager* model) override;
  void SetListener(Listener listener) override { m_listener = std::move(listener); }
  bool UpdateAll(bool force) override;
  bool UpdateSources(const IdList& sources, bool force) override;
  bool UpdateSourceFrom(ObjectId source, const std::u16string& fetchedUrl,
                        const DownloadResult& document) override;
  std::unique_ptr<CFeedDiscovery> NewDiscovery() override;
  std::unique_ptr<CArticlePageFetch> NewArticlePageFetch() override;
  bool Busy() const override;
  SourceUpdateState StateOf(ObjectId source) const override;
  void SourcesRemoved() override;
  void ForgetSource(ObjectId source) override;
  void Cancel() override;
  CValidatorStore* FetchState() override;

  // The engine, once attached (tests).
  CUpdateEngine* Engine() const { return m_engine.get(); }

 private:
  // Set by the second constructor; declared before the references to them.
  std::unique_ptr<CDownloadPool> m_ownPool;
  std::unique_ptr<CQtExecutor> m_ownExecutor;
  IDownloader& m_downloader;
  IExecutor& m_executor;
  std::unique_ptr<CUpdateEngine> m_engine;
  CFeedsManager* m_model = nullptr;
  Listener m_listener;
};

}  // namespace qb
