// Helpers for the sync tests: waiting for a client's reply, and a device,
// the part of a library an account's sync reads and writes (its articles'
// flags, the deleted ids, the pending queue), applying each outcome as the
// library will.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <string>

#include "sync/GReaderClient.h"

namespace qb::test {

// Starts a call with a `done` that keeps the reply, and waits for it.
template <class T, class Call>
GReaderReply<T> Await(Call call) {
  auto promise = std::make_shared<std::promise<GReaderReply<T>>>();
  std::future<GReaderReply<T>> future = promise->get_future();
  call([promise](GReaderReply<T> reply) { promise->set_value(std::move(reply)); });
  if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "no reply within a minute";
    return {{GReaderStatus::kUnreachable, 0, u"no reply"}, {}};
  }
  return future.get();
}

struct SyncDevice {
  std::map<std::string, LocalItemState> items;
  std::vector<PendingMark> pending;
  uint64_t nextSeq = 1;

  void Mark(const std::string& id, MarkFlag flag, bool value) {
    LocalItemState& state = items.at(id);
    (flag == MarkFlag::kRead ? state.read : state.starred) = value;
    pending.push_back({nextSeq++, id, flag, value});
  }

  GReaderSyncOutcome Sync(CGReaderClient& client) {
    GReaderSyncInput input;
    input.local.items.insert(items.begin(), items.end());
    input.local.pending = pending;
    GReaderReply<GReaderSyncOutcome> reply = Await<GReaderSyncOutcome>(
        [&](auto done) { client.Sync(std::move(input), {}, std::move(done)); });
    Apply(reply.value);
    return std::move(reply.value);
  }

  void Apply(const GReaderSyncOutcome& outcome) {
    std::erase_if(pending, [&](const PendingMark& m) {
      return std::binary_search(outcome.acknowledged.begin(), outcome.acknowledged.end(), m.seq);
    });
    if (!outcome.pulled) return;
    for (const StateChange& change : outcome.plan.apply) items[change.id] = change.state;
    for (const GReaderItem& item : outcome.items) items[item.id] = {item.read, item.starred};
    for (const std::string& id : outcome.plan.remove) items.erase(id);
  }
};

}  // namespace qb::test
