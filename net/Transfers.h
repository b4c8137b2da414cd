// The transfers themselves, beneath the download pool and the one-off
// download (net/Download.h): each request handed to libcurl with its
// method, headers and body, the redirects of a request that carries
// credentials followed by hand on its own host only, the size cap and the
// stall watch, and the limits per host and in all. Internal to net/.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "net/Download.h"

namespace qb {

// A set of transfers driven by one libcurl multi handle, on one thread at a
// time (Wakeup excepted). Transfers wait in order until the limits admit them.
class CTransferSet {
 public:
  struct Finished {
    uint64_t tag;
    DownloadResult result;
  };

  explicit CTransferSet(const DownloadOptions& options);
  ~CTransferSet();
  CTransferSet(const CTransferSet&) = delete;
  CTransferSet& operator=(const CTransferSet&) = delete;

  void Add(uint64_t tag, const DownloadRequest& request);
  bool Empty() const;
  // The longest a Step may wait so that a stall is noticed within a tenth
  // of the stall time.
  int PollInterval() const;
  // Admits what the limits allow, moves data for at most `waitMs`, and
  // appends every transfer that ended.
  void Step(int waitMs, std::vector<Finished>& finished);
  // Makes a Step that waits return at once. Any thread.
  void Wakeup();
  // Abandons the transfers whose tag `drop` names, waiting or running.
  void Remove(const std::function<bool(uint64_t tag)>& drop);
  // Abandons every transfer, waiting or running.
  void Clear();

 private:
  class Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace qb
