// A downloader whose transfers end when the test says so, with the result
// the test gives, from whichever thread the test calls from. Keeps every
// request it was given.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "net/Download.h"

namespace qb::test {

class FakeDownloader : public IDownloader {
 public:
  void Start(DownloadRequest request, Done done) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_started.push_back({std::move(request), std::move(done), false});
  }

  void Cancel(uint64_t group) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Started& s : m_started) {
      if (s.request.group == group) s.ended = true;
    }
    ++m_cancels;
  }

  // Ends the i-th transfer started (counting from 0) with `result`. Does
  // nothing for one cancelled or already ended.
  void Complete(size_t i, DownloadResult result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Started& s = m_started.at(i);
    if (s.ended) return;
    s.ended = true;
    s.done(std::move(result));
  }
  // Whether the i-th transfer is still running (not ended, not cancelled).
  bool Running(size_t i) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_started.at(i).ended;
  }

  size_t StartedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started.size();
  }
  DownloadRequest Request(size_t i) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started.at(i).request;
  }
  std::vector<std::string> Urls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> urls;
    for (const Started& s : m_started) urls.push_back(s.request.url);
    return urls;
  }
  int Cancels() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancels;
  }

  // A completed transfer with this body and status.
  static DownloadResult Body(std::string body, long status = 200) {
    DownloadResult r;
    r.ok = true;
    r.httpStatus = status;
    r.contentType = "application/rss+xml";
    r.body = std::move(body);
    return r;
  }
  static DownloadResult Failure(DownloadError error) {
    DownloadResult r;
    r.error = error;
    return r;
  }

 private:
  struct Started {
    DownloadRequest request;
    Done done;
    bool ended;
  };
  mutable std::mutex m_mutex;
  std::vector<Started> m_started;
  int m_cancels = 0;
};

}  // namespace qb::test
