// The parts of the Google Reader API client (sync/GReaderClient.h) that
// its two halves share: the plumbing of a call (queue, sign-in, retry) in
// GReaderClient.cpp and the API's calls and the sync in GReaderCalls.cpp.
// Internal to sync/.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "sync/GReaderClient.h"

namespace qb {

namespace greader {

inline constexpr char kApi[] = "/reader/api/0/";

inline GReaderError Failure(GReaderStatus status, std::u16string message, long httpStatus = 0) {
  return {status, httpStatus, std::move(message)};
}

inline GReaderError BadAnswer(const char* what) {
  return Failure(GReaderStatus::kBadAnswer,
                 u"The server's answer to " + Widen(what) + u" is not what the API describes.");
}

inline std::u16string WithReason(std::u16string text, const std::u16string& reason) {
  if (!reason.empty()) text += u": " + reason;
  if (text.back() != u'.' && text.back() != u'!' && text.back() != u'?') text += u'.';
  return text;
}

// A failure after which nothing else of a sync can succeed.
inline bool Stops(const GReaderError& e) {
  return e.status == GReaderStatus::kUnreachable || e.status == GReaderStatus::kSignInRefused ||
         e.status == GReaderStatus::kRedirected;
}

// Reads a GET's JSON answer with `parse` and hands on the value.
template <class T, class Parse>
auto ParsedReply(const char* what, Parse parse, std::function<void(GReaderReply<T>)> next) {
  return [what, parse, next = std::move(next)](auto answer) {
    GReaderReply<T> reply;
    reply.error = std::move(answer.error);
    if (reply.error.ok()) {
      auto value = parse(answer.download.body);
      if (value) reply.value = std::move(*value);
      else reply.error = BadAnswer(what);
    }
    next(std::move(reply));
  };
}

}  // namespace greader

struct CGReaderClient::Call {
  uint64_t generation = 0;
  HttpMethod method = HttpMethod::kGet;
  std::string path;  // after the base, from "/"
  FormFields query;
  FormFields form;  // the body of a POST; T is added
  bool session = true;
};

struct CGReaderClient::Answer {
  GReaderError error;
  DownloadResult download;
};

struct CGReaderClient::SyncRun {
  uint64_t generation = 0;
  uint64_t requestsBefore = 0;
  GReaderSyncInput input;
  std::function<void(GReaderSyncProgress)> progress;
  Done<GReaderSyncOutcome> done;
  GReaderSyncOutcome outcome;
  std::vector<TagEdit> edits;
  size_t nextEdit = 0;
  std::unordered_set<uint64_t> acknowledged;
  ServerLists lists;
  int stage = 0;
};

}  // namespace qb
