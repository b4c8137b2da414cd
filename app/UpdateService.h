// The window's feed updater: the core's update engine on the window's
// thread, fed by a queued call whenever a download has arrived, so the
// event loop keeps running while documents are fetched. Results are applied
// in small slices (one source, or a few milliseconds) between events.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <unordered_map>

#include "app/CoreBridge.h"

namespace qb {

class CUpdateService final : public QObject, public IFeedUpdater {
  Q_OBJECT
 public:
  // Makes the downloader for each attached model; empty: the standard
  // pool of concurrent transfers.
  using DownloaderFactory = std::function<std::unique_ptr<IDownloader>()>;
  explicit CUpdateService(DownloaderFactory makeDownloader = nullptr, QObject* parent = nullptr);
  ~CUpdateService() override;

  void Attach(CFeedsManager* model) override;
  void SetListener(Listener listener) override { m_listener = std::move(listener); }
  bool UpdateAll(bool force) override;
  bool UpdateSources(const IdList& sources, bool force) override;
  bool Busy() const override;
  SourceUpdateState StateOf(ObjectId source) const override;
  void SourcesRemoved() override;
  void ForgetSource(ObjectId source) override;
  void Cancel() override;
  CValidatorStore* FetchState() override;

  // The engine, once attached (tests).
  CUpdateEngine* Engine() const { return m_engine.get(); }

 private:
  // Applies what has arrived, a slice at a time, from the event loop.
  void ApplyArrived();
  void OnSourceApplied(const SourceReport& report);

  DownloaderFactory m_makeDownloader;
  std::unique_ptr<CUpdateEngine> m_engine;
  CFeedsManager* m_model = nullptr;
  Listener m_listener;
  std::unordered_map<ObjectId, SourceUpdateState> m_states;
  // A queued ApplyArrived is on its way (set from the download thread).
  std::atomic<bool> m_applyPosted{false};
};

}  // namespace qb
