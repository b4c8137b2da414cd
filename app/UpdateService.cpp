#include "app/UpdateService.h"

#include <QMetaObject>
#include <chrono>

#include "model/FeedsManager.h"

namespace qb {

namespace {
// How long one slice of applying may take before the event loop runs again.
constexpr std::chrono::milliseconds kApplySlice{8};
}  // namespace

CUpdateService::CUpdateService(DownloaderFactory makeDownloader, QObject* parent)
    : QObject(parent), m_makeDownloader(std::move(makeDownloader)) {}

CUpdateService::~CUpdateService() {
  // No hook runs once the engine is gone, so nothing queues another call.
  m_engine.reset();
}

void CUpdateService::Attach(CFeedsManager* model) {
  if (model == m_model) return;
  m_engine.reset();
  m_states.clear();
  m_model = model;
  if (model == nullptr) return;
  CUpdateEngine::Hooks hooks;
  hooks.wake = [this] {
    if (m_applyPosted.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          m_applyPosted = false;
          ApplyArrived();
        },
        Qt::QueuedConnection);
  };
  hooks.sourceApplied = [this](const SourceReport& report) { OnSourceApplied(report); };
  hooks.passFinished = [this](const PassReport& report) {
    if (m_listener.passFinished) m_listener.passFinished(report);
  };
  m_engine = std::make_unique<CUpdateEngine>(*model, std::move(hooks),
                                             m_makeDownloader ? m_makeDownloader() : nullptr);
}

bool CUpdateService::UpdateAll(bool force) { return m_engine && m_engine->UpdateAll(force); }

bool CUpdateService::UpdateSources(const IdList& sources, bool force) {
  return m_engine && m_engine->UpdateSources(sources, force);
}

bool CUpdateService::Busy() const { return m_engine && m_engine->Busy(); }

SourceUpdateState CUpdateService::StateOf(ObjectId source) const {
  auto it = m_states.find(source);
  return it == m_states.end() ? SourceUpdateState{} : it->second;
}

void CUpdateService::SourcesRemoved() {
  if (m_model != nullptr) {
    for (auto it = m_states.begin(); it != m_states.end();) {
      it = m_model->GetFeedSource(it->first) == nullptr ? m_states.erase(it) : std::next(it);
    }
  }
  // A pass waiting for a source that is gone moves on.
  ApplyArrived();
}

void CUpdateService::ForgetSource(ObjectId source) {
  if (m_engine) m_engine->ForgetSource(source);
}

void CUpdateService::Cancel() {
  if (m_engine) m_engine->Cancel();
}

CValidatorStore* CUpdateService::FetchState() { return m_engine ? &m_engine->Validators() : nullptr; }

void CUpdateService::ApplyArrived() {
  if (!m_engine || !m_engine->Busy()) return;
  // More is waiting once the slice is spent: the rest follows after the
  // events that queued up meanwhile.
  if (m_engine->ApplyReady(kApplySlice) && !m_applyPosted.exchange(true)) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          m_applyPosted = false;
          ApplyArrived();
        },
        Qt::QueuedConnection);
  }
}

void CUpdateService::OnSourceApplied(const SourceReport& report) {
  if (report.fetched && m_model != nullptr) {
    SourceUpdateState& state = m_states[report.source];
    const int64_t now = m_model->Clock().CurrentTime();
    state.lastAttempt = now;
    state.failure = report.reason;
    if (report.reason.empty()) state.lastSuccess = now;
  } else if (!report.fetched) {
    m_states[report.source].failure = report.reason;
  }
  if (m_listener.sourceApplied) m_listener.sourceApplied(report);
}

}  // namespace qb
