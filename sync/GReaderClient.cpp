#include "sync/GReaderClient.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "base/Text.h"
#include "sync/GReaderClientParts.h"

namespace qb {

using namespace greader;

namespace {

// What became of a request, for its caller.
GReaderError Classify(const DownloadResult& d) {
  if (!d.ok) {
    return Failure(GReaderStatus::kUnreachable,
                   u"The server could not be reached: " + DescribeDownloadError(d.error) + u".");
  }
  const long status = d.httpStatus;
  if (status >= 300 && status < 400) {
    std::u16string where = Utf8ToUtf16(HeaderValue(d, "location").substr(0, 200));
    return Failure(GReaderStatus::kRedirected,
                   u"The server sent the request to another address" +
                       (where.empty() ? std::u16string() : u" (" + where + u")") +
                       u", which was not followed: give the server's new address.",
                   status);
  }
  const std::u16string reason = ServerReason(d.body, d.contentType);
  if (status == 401 || status == 403) {
    return Failure(GReaderStatus::kSignInRefused, WithReason(u"The server refused the sign-in", reason), status);
  }
  if (status < 200 || status >= 300) {
    return Failure(GReaderStatus::kServerError,
                   WithReason(u"The server answered " + Widen(std::to_string(status)), reason), status);
  }
  return {};
}

bool IsBadToken(const DownloadResult& d) {
  return d.ok && d.httpStatus == 401 &&
         (!HeaderValue(d, "google-bad-token").empty() || !HeaderValue(d, "x-reader-google-bad-token").empty());
}

}  // namespace

CGReaderClient::CGReaderClient(IDownloader& downloader, GReaderAccount account, std::string password,
                               GReaderClientOptions options)
    : m_downloader(downloader),
      m_account(std::move(account)),
      m_password(std::move(password)),
      m_options(options),
      m_group(NewDownloadGroup()) {}

CGReaderClient::~CGReaderClient() { Cancel(); }

void CGReaderClient::Cancel() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++*m_generation;
    m_queue.clear();
    m_busy = false;
  }
  // Every transfer started under the old generation started before this:
  // the pool abandons them all, and waits out a delivery in progress.
  m_downloader.Cancel(m_group);
}

uint64_t CGReaderClient::Generation() const { return m_generation->load(); }

void CGReaderClient::Enqueue(std::function<void(uint64_t generation)> start) {
  uint64_t gen = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_busy) {
      m_queue.push_back(std::move(start));
      return;
    }
    m_busy = true;
    gen = *m_generation;
  }
  start(gen);
}

void CGReaderClient::Finished(uint64_t gen) {
  std::function<void(uint64_t)> next;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A call cancelled while it ended: the queue is no longer its own.
    if (gen != *m_generation) return;
    if (m_queue.empty()) {
      m_busy = false;
      return;
    }
    next = std::move(m_queue.front());
    m_queue.erase(m_queue.begin());
  }
  next(gen);
}

void CGReaderClient::Start(DownloadRequest request, uint64_t generation, IDownloader::Done done) {
  if (*m_generation != generation) return;
  ++m_requests;
  // A transfer started just as a Cancel came may end after it, even after
  // the client is gone: its answer then goes nowhere, and touches nothing
  // but the shared generation.
  m_downloader.Start(std::move(request), [live = m_generation, generation, done = std::move(done)](DownloadResult r) {
    if (*live == generation) done(std::move(r));
  });
}

void CGReaderClient::Send(Call call, Next next) {
  SendAttempt(std::make_shared<Call>(std::move(call)), false, std::move(next));
}

void CGReaderClient::SendAttempt(std::shared_ptr<Call> call, bool retried, Next next) {
  std::string auth, token;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auth = m_auth;
    token = m_editToken;
  }
  if (call->session && auth.empty()) {
    Login(call->generation, [this, call, retried, next](GReaderError e) {
      if (!e.ok()) return next({std::move(e), {}});
      SendAttempt(call, retried, next);
    });
    return;
  }
  if (call->session && call->method == HttpMethod::kPost && token.empty()) {
    FetchEditToken(call->generation, [this, call, retried, next](GReaderError e) {
      if (!e.ok()) return next({std::move(e), {}});
      SendAttempt(call, retried, next);
    });
    return;
  }
  DownloadRequest request;
  request.url = m_account.apiBase + call->path;
  if (!call->query.empty()) request.url += "?" + FormEncode(call->query);
  request.group = m_group;
  request.maxBodyBytes = m_options.maxAnswerBytes;
  request.method = call->method;
  if (call->session) request.headers.emplace_back("Authorization", "GoogleLogin auth=" + auth);
  if (call->method == HttpMethod::kPost) {
    FormFields form = call->form;
    if (call->session) form.emplace_back("T", token);
    request.body = FormEncode(form);
    request.contentType = "application/x-www-form-urlencoded";
  }
  Start(std::move(request), call->generation, [this, call, retried, auth, next](DownloadResult d) {
    if (call->session && !retried && IsBadToken(d)) {
      // The session ended (or the edit token did): sign in again, once.
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_auth == auth) {
          m_auth.clear();
          m_editToken.clear();
        }
      }
      SendAttempt(call, true, next);
      return;
    }
    Answer answer;
    answer.error = Classify(d);
    answer.download = std::move(d);
    next(std::move(answer));
  });
}

void CGReaderClient::Login(uint64_t gen, std::function<void(GReaderError)> next) {
  Call call;
  call.generation = gen;
  call.method = HttpMethod::kPost;
  call.path = "/accounts/ClientLogin";
  call.form = {{"Email", m_account.user}, {"Passwd", m_password}};
  call.session = false;
  Send(std::move(call), [this, next](Answer a) {
    if (a.error.status == GReaderStatus::kServerError && a.error.httpStatus >= 400 && a.error.httpStatus < 500) {
      // A user name the server does not take is a refusal too.
      a.error.status = GReaderStatus::kSignInRefused;
      a.error.message = WithReason(u"The server refused the sign-in",
                                   ServerReason(a.download.body, a.download.contentType));
    }
    if (!a.error.ok()) return next(std::move(a.error));
    const std::optional<std::string> auth = ParseClientLogin(a.download.body);
    if (!auth) return next(BadAnswer("the sign-in"));
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_auth = *auth;
      m_editToken.clear();
    }
    next({});
  });
}

void CGReaderClient::FetchEditToken(uint64_t gen, std::function<void(GReaderError)> next) {
  Call call;
  call.generation = gen;
  call.path = std::string(kApi) + "token";
  Send(std::move(call), [this, next](Answer a) {
    if (!a.error.ok()) return next(std::move(a.error));
    const std::optional<std::string> token = ParseEditToken(a.download.body);
    if (!token) return next(BadAnswer("token"));
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_editToken = *token;
    }
    next({});
  });
}

}  // namespace qb
