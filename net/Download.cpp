#include "net/Download.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <list>
#include <map>
#include <optional>
#include <vector>

#include "base/Text.h"
#include "formats/TextDecoding.h"
#include "net/Transfers.h"

namespace qb {

namespace {

std::mutex g_libraryMutex;
int g_libraryHolders = 0;
bool g_libraryOk = false;

}  // namespace

CNetworkLibrary::CNetworkLibrary() {
  std::lock_guard<std::mutex> lock(g_libraryMutex);
  if (g_libraryHolders++ == 0) g_libraryOk = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  m_ok = g_libraryOk;
}

CNetworkLibrary::~CNetworkLibrary() {
  std::lock_guard<std::mutex> lock(g_libraryMutex);
  if (--g_libraryHolders == 0 && g_libraryOk) {
    curl_global_cleanup();
    g_libraryOk = false;
  }
}

uint64_t NewDownloadGroup() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1);
}

DownloadResult DownloadBytes(const std::string& url, const DownloadOptions& options) {
  DownloadRequest request;
  request.url = url;
  return DownloadBytes(request, options);
}

DownloadResult DownloadBytes(const DownloadRequest& request, const DownloadOptions& options) {
  try {
    CTransferSet set(options);
    set.Add(0, request);
    std::vector<CTransferSet::Finished> finished;
    while (finished.empty() && !set.Empty()) set.Step(set.PollInterval(), finished);
    if (!finished.empty()) return std::move(finished.front().result);
  } catch (...) {
    // Out of memory while setting up or holding a body: a failed download.
  }
  DownloadResult failed;
  failed.error = DownloadError::Failed;
  return failed;
}

std::u16string DecodeDownload(const DownloadResult& result) {
  try {
    if (!result.ok || result.body.empty()) return {};
    return DecodeFeedBytes(result.body, CharsetFromContentType(result.contentType));
  } catch (...) {
    return {};  // out of memory while decoding: a failed download
  }
}

std::u16string DownloadText(const std::u16string& url) { return DownloadText(url, {}); }

std::u16string DownloadText(const std::u16string& url, const DownloadOptions& options) {
  try {
    return DecodeDownload(DownloadBytes(Utf16ToUtf8(url), options));
  } catch (...) {
    return {};
  }
}

std::u16string DescribeDownloadError(DownloadError error) {
  switch (error) {
    case DownloadError::None: return {};
    case DownloadError::BadAddress: return u"not an http or https address";
    case DownloadError::HostNotFound: return u"host not found";
    case DownloadError::Refused: return u"connection refused";
    case DownloadError::TimedOut: return u"did not answer in time";
    case DownloadError::TooLarge: return u"document too large";
    case DownloadError::TooManyRedirects: return u"too many redirects";
    case DownloadError::Cancelled: return u"cancelled";
    case DownloadError::Failed: return u"transfer failed";
  }
  return {};
}

CDownloadPool::CDownloadPool(const DownloadOptions& options)
    : m_transfers(std::make_unique<CTransferSet>(options)), m_worker([this] { Run(); }) {}

CDownloadPool::~CDownloadPool() { Stop(); }

void CDownloadPool::Stop() {
  std::lock_guard<std::mutex> once(m_stop);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_incoming.clear();
  }
  m_transfers->Wakeup();
  m_wake.notify_all();
  if (m_worker.joinable()) m_worker.join();
}

void CDownloadPool::Start(DownloadRequest request, Done done) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    m_incoming.push_back({std::move(request), std::move(done), m_nextSerial++});
  }
  m_transfers->Wakeup();
  m_wake.notify_all();
}

bool CDownloadPool::Cancelled(const Job& job) const {
  auto it = m_cancelledBefore.find(job.request.group);
  return it != m_cancelledBefore.end() && job.serial < it->second;
}

void CDownloadPool::Cancel(uint64_t group) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelledBefore[group] = m_nextSerial;
    std::erase_if(m_incoming, [&](const Job& job) { return job.request.group == group; });
    m_cancelPending = true;
  }
  m_transfers->Wakeup();
  m_wake.notify_all();
  // A result is delivered only if its job was not cancelled when the
  // delivery began; waiting out the delivery in progress means none of the
  // group's runs from now on.
  std::lock_guard<std::mutex> delivering(m_delivery);
}

void CDownloadPool::Run() {
  std::map<uint64_t, Job> jobs;  // by tag, while their transfer runs
  uint64_t nextTag = 1;
  std::vector<CTransferSet::Finished> finished;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [&] {
        return m_stopping || !m_incoming.empty() || m_cancelPending || !m_transfers->Empty();
      });
      if (m_stopping) break;
      if (m_cancelPending) {
        m_cancelPending = false;
        m_transfers->Remove([&](uint64_t tag) {
          auto it = jobs.find(tag);
          if (it == jobs.end() || !Cancelled(it->second)) return false;
          jobs.erase(it);
          return true;
        });
      }
      while (!m_incoming.empty()) {
        const uint64_t tag = nextTag++;
        m_transfers->Add(tag, m_incoming.front().request);
        jobs.emplace(tag, std::move(m_incoming.front()));
        m_incoming.pop_front();
      }
    }
    finished.clear();
    m_transfers->Step(1000, finished);
    for (CTransferSet::Finished& f : finished) {
      auto it = jobs.find(f.tag);
      if (it == jobs.end()) continue;
      Job job = std::move(it->second);
      jobs.erase(it);
      // Off the pool's lock, so that Start never waits for a delivery.
      std::lock_guard<std::mutex> delivering(m_delivery);
      bool current = false;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        current = !m_stopping && !Cancelled(job);
      }
      if (current && job.done) job.done(std::move(f.result));
    }
  }
  m_transfers->Clear();
}

int64_t ParseRetryAfter(std::string_view value, int64_t now) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return 0;
  int64_t until = 0;
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    uint64_t seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec != std::errc() || end != value.data() + value.size()) seconds = UINT64_MAX;  // too many digits: as long as allowed
    until = now + static_cast<int64_t>(std::min<uint64_t>(seconds, kMaxRetryAfterSeconds));
  } else {
    const std::string text(value);
    const time_t t = curl_getdate(text.c_str(), nullptr);
    if (t < 0) return 0;
    until = std::min<int64_t>(static_cast<int64_t>(t), now + kMaxRetryAfterSeconds);
  }
  return until > now ? until : 0;
}

}  // namespace qb
