#include "app/UpdateService.h"

#include <chrono>

#include "app/QtExecutor.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {
// How long one slice of applying may take before the event loop runs again.
constexpr std::chrono::milliseconds kApplySlice{8};
}  // namespace

CUpdateService::CUpdateService(IDownloader& downloader, IExecutor& executor, QObject* parent)
    : QObject(parent), m_downloader(downloader), m_executor(executor) {}

CUpdateService::CUpdateService(QObject* parent)
    : QObject(parent),
      m_ownPool(std::make_unique<CDownloadPool>()),
      m_ownExecutor(std::make_unique<CQtExecutor>()),
      m_downloader(*m_ownPool),
      m_executor(*m_ownExecutor) {}

CUpdateService::~CUpdateService() {
  // No hook runs once the engine is gone, and its queued tasks do nothing.
  m_engine.reset();
}

void CUpdateService::Attach(CFeedsManager* model) {
  if (model == m_model) return;
  m_engine.reset();
  m_model = model;
  if (model == nullptr) return;
  CUpdateEngine::Hooks hooks;
  hooks.applySlice = kApplySlice;
  hooks.sourceApplied = [this](const SourceReport& report) {
    if (m_listener.sourceApplied) m_listener.sourceApplied(report);
  };
  hooks.status = [this](const std::u16string& text) {
    if (m_listener.status) m_listener.status(text);
  };
  hooks.passFinished = [this](const PassReport& report) {
    if (m_listener.passFinished) m_listener.passFinished(report);
  };
  m_engine = std::make_unique<CUpdateEngine>(*model, m_downloader, m_executor, std::move(hooks));
  m_engine->Validators().SetStoredHook([this](const IdList& sources) {
    if (m_listener.statesStored) m_listener.statesStored(sources);
  });
}

bool CUpdateService::UpdateAll(bool force) { return m_engine && m_engine->UpdateAll(force); }

bool CUpdateService::UpdateSources(const IdList& sources, bool force) {
  return m_engine && m_engine->UpdateSources(sources, force);
}

bool CUpdateService::UpdateSourceFrom(ObjectId source, const std::u16string& fetchedUrl,
                                      const DownloadResult& document) {
  return m_engine && m_engine->UpdateSourceFrom(source, fetchedUrl, document);
}

std::unique_ptr<CFeedDiscovery> CUpdateService::NewDiscovery() {
  return std::make_unique<CFeedDiscovery>(m_downloader, m_executor);
}

std::unique_ptr<CArticlePageFetch> CUpdateService::NewArticlePageFetch() {
  return std::make_unique<CArticlePageFetch>(m_downloader, m_executor);
}

bool CUpdateService::Busy() const { return m_engine && m_engine->Busy(); }

SourceUpdateState CUpdateService::StateOf(ObjectId source) const {
  if (!m_engine || m_model == nullptr) return {};
  const CFeedSource* s = m_model->GetFeedSource(source);
  // The state of an earlier address says nothing about this one.
  const SourceUpdateState* state = s != nullptr ? m_engine->Validators().Find(source, s->m_url) : nullptr;
  return state != nullptr ? *state : SourceUpdateState{};
}

void CUpdateService::SourcesRemoved() {
  // A pass waiting for a source that is gone moves on.
  if (m_engine) m_engine->ApplySoon();
}

void CUpdateService::ForgetSource(ObjectId source) {
  if (m_engine) m_engine->ForgetSource(source);
}

void CUpdateService::Cancel() {
  if (m_engine) m_engine->Cancel();
}

CValidatorStore* CUpdateService::FetchState() { return m_engine ? &m_engine->Validators() : nullptr; }

}  // namespace qb
