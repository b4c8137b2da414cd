// Everything the program remembers about updating one source beyond its
// record: how the last attempt went (what the tree's warning mark and the
// feed's properties show), the validators of the last document applied
// whole (for conditional requests), the run of failures (for the back-off)
// and a server's Retry-After. The update engine keeps one per source
// (update/Validators.h); the library stores it beside the source
// (library/LibraryBatch.h), and a classic data file's cache beside the file.
#pragma once

#include <cstdint>
#include <string>

#include "model/Fields.h"

namespace qb {

struct UpdateStateFields {
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
  bool operator==(const UpdateStateFields&) const = default;
};

// The library's columns of each (the classic data file has none: its
// cache file is written apart, update/Validators.cpp).
inline constexpr auto kUpdateStateFieldTable = std::make_tuple(
    Field(&UpdateStateFields::url, "url", nullptr, 0, 0),
    Field(&UpdateStateFields::failure, "failure", nullptr, 0, 0),
    Field(&UpdateStateFields::lastAttempt, "last_attempt", nullptr, 0, 0),
    Field(&UpdateStateFields::lastSuccess, "last_success", nullptr, 0, 0),
    Field(&UpdateStateFields::etag, "etag", nullptr, 0, 0),
    Field(&UpdateStateFields::lastModified, "last_modified", nullptr, 0, 0),
    Field(&UpdateStateFields::failures, "failures", nullptr, 0, 0),
    Field(&UpdateStateFields::retryUntil, "retry_until", nullptr, 0, 0));
static_assert(CheckFieldTable<UpdateStateFields, decltype(kUpdateStateFieldTable)>(),
              "an update state field has no table entry");

}  // namespace qb
