// Everything the program remembers about updating one source beyond the
// data file: how the last attempt went (what the tree's warning mark and the
// feed's properties show), the validators of the last document applied
// whole (for conditional requests), the run of failures (for the back-off)
// and a server's Retry-After. The update engine keeps one per source in its
// CValidatorStore (feeds/Validators.h), which is saved beside the data file,
// so a warning mark is still there after a restart.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

struct SourceUpdateState {
  std::u16string url;  // the state is for this address only
  // Why the last attempt failed ("host not found", "HTTP status 404", "not
  // a feed", ...), or why the source is held back; empty when it did not
  // fail or was not made.
  std::u16string failure;
  int64_t lastAttempt = 0;  // seconds since 1970; 0 when not tried yet
  int64_t lastSuccess = 0;  // the latest attempt that did not fail
  // Validators of the last document applied whole.
  std::string etag;
  std::string lastModified;
  uint32_t failures = 0;    // attempts in a row that did not end "Comms status: OK"
  int64_t retryUntil = 0;   // not fetched before this time (0: no limit)
  bool operator==(const SourceUpdateState&) const = default;
};

}  // namespace qb
