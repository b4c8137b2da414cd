// Who wins when an account's articles are synced: the plan, made from
// values alone (no model, no network), of what a sync pushes to the server,
// what it changes locally, what it fetches and what it removes.
//
// Read and starred changes made locally wait in a pending queue, each entry
// with a sequence number that grows with every change. A sync first pushes
// the latest wanted value of every (article, flag) in the queue, and only
// the entries a server acknowledged leave it: an entry made while the push
// ran (a higher number) stays and goes out next time. Then it pulls the
// server's lists: for every article with no pending change the server's
// state wins; where a change is still pending (its push failed), the local
// value stands until it reaches the server. Articles the server no longer
// lists are removed locally unless they stay starred, so that the only copy
// of a starred article is never lost with the server's. A list that could
// not be read whole (too long) proves nothing by an id's absence: nothing
// is removed, and no flag is cleared on the strength of such a list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qb {

struct LocalItemState {
  bool read = false;
  bool starred = false;
  bool operator==(const LocalItemState&) const = default;
};

enum class MarkFlag { kRead, kStarred };

// One entry of the pending queue: the wanted value of one flag.
struct PendingMark {
  uint64_t seq = 0;  // grows with every entry made
  std::string id;    // the article's normalised item id
  MarkFlag flag = MarkFlag::kRead;
  bool value = false;
};

// One edit-tag request: `ids` get the tag (add) or lose it (remove). When
// the server acknowledges it, the queue entries `seqs` are done.
struct TagEdit {
  std::string tag;  // kReadStream or kStarredStream
  bool add = true;
  std::vector<std::string> ids;
  std::vector<uint64_t> seqs;
};

// The requests that push the queue: for each (article, flag) its latest
// entry's value, in batches of at most `batchSize` ids (at least 1), in
// the order the entries were made; every entry of that (article, flag) up
// to the latest goes with the batch that sends it.
std::vector<TagEdit> PlanPush(const std::vector<PendingMark>& pending, size_t batchSize);

// A list of ids the server gave, and whether it gave all of it.
struct ServerIdList {
  std::vector<std::string> ids;
  bool complete = true;
};

struct ServerLists {
  ServerIdList readingList;  // every article the server lists
  ServerIdList unread;
  ServerIdList starred;
};

struct LocalSnapshot {
  std::unordered_map<std::string, LocalItemState> items;  // stored, by id
  // Ids the user deleted, kept so that they are not fetched again.
  std::unordered_set<std::string> deleted;
  // The queue as it stands after the push (the acknowledged entries gone).
  std::vector<PendingMark> pending;
};

struct StateChange {
  std::string id;
  LocalItemState state;  // the new flags
  bool operator==(const StateChange&) const = default;
};

struct FetchItem {
  std::string id;
  LocalItemState state;  // what the article is to be once fetched
  bool operator==(const FetchItem&) const = default;
};

struct PullPlan {
  std::vector<FetchItem> fetch;      // listed on the server, not stored, not deleted
  std::vector<StateChange> apply;    // stored articles whose flags change
  std::vector<std::string> remove;   // stored, no longer listed, not starred
};

// The plan of a pull. Ids come out in the server's order (the reading
// list's, then those listed only as unread or starred), removals in id order.
// The owner applies it leaving out the articles with an entry queued since
// the snapshot was taken: such a change is newer than anything the server
// said, and goes out with the next push.
PullPlan PlanPull(const LocalSnapshot& local, const ServerLists& server);

}  // namespace qb
