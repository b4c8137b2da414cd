#include "sync/Reconcile.h"

#include <algorithm>
#include <map>
#include <utility>

#include "sync/GReaderProtocol.h"

namespace qb {

namespace {

// The latest pending value of each flag of an article.
struct Wanted {
  std::optional<bool> read;
  std::optional<bool> starred;
};

std::unordered_map<std::string, Wanted> LatestWanted(const std::vector<PendingMark>& pending) {
  std::unordered_map<std::string, std::pair<uint64_t, uint64_t>> seqOf;  // read, starred
  std::unordered_map<std::string, Wanted> wanted;
  for (const PendingMark& m : pending) {
    auto& [readSeq, starredSeq] = seqOf[m.id];
    Wanted& w = wanted[m.id];
    if (m.flag == MarkFlag::kRead && (!w.read || m.seq >= readSeq)) {
      w.read = m.value;
      readSeq = m.seq;
    } else if (m.flag == MarkFlag::kStarred && (!w.starred || m.seq >= starredSeq)) {
      w.starred = m.value;
      starredSeq = m.seq;
    }
  }
  return wanted;
}

}  // namespace

std::vector<TagEdit> PlanPush(const std::vector<PendingMark>& pending, size_t batchSize) {
  batchSize = std::max<size_t>(batchSize, 1);
  // Per (article, flag): its latest entry and every entry's number.
  struct Slot {
    uint64_t latestSeq = 0;
    bool value = false;
    std::vector<uint64_t> seqs;
  };
  std::map<std::pair<std::string, MarkFlag>, Slot> slots;
  for (const PendingMark& m : pending) {
    Slot& slot = slots[{m.id, m.flag}];
    if (slot.seqs.empty() || m.seq >= slot.latestSeq) {
      slot.latestSeq = m.seq;
      slot.value = m.value;
    }
    slot.seqs.push_back(m.seq);
  }
  // The four kinds of request, each in the order of the latest entries.
  std::vector<std::pair<uint64_t, const std::pair<std::string, MarkFlag>*>> order;
  for (const auto& [key, slot] : slots) order.emplace_back(slot.latestSeq, &key);
  std::sort(order.begin(), order.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TagEdit> edits;
  std::map<std::pair<MarkFlag, bool>, size_t> open;  // the batch being filled, per kind
  for (const auto& [seq, key] : order) {
    const Slot& slot = slots.at(*key);
    const std::pair<MarkFlag, bool> kind{key->second, slot.value};
    auto it = open.find(kind);
    if (it == open.end() || edits[it->second].ids.size() >= batchSize) {
      TagEdit edit;
      edit.tag = key->second == MarkFlag::kRead ? kReadStream : kStarredStream;
      edit.add = slot.value;
      edits.push_back(std::move(edit));
      it = open.insert_or_assign(kind, edits.size() - 1).first;
    }
    TagEdit& edit = edits[it->second];
    edit.ids.push_back(key->first);
    edit.seqs.insert(edit.seqs.end(), slot.seqs.begin(), slot.seqs.end());
  }
  return edits;
}

PullPlan PlanPull(const LocalSnapshot& local, const ServerLists& server) {
  const std::unordered_map<std::string, Wanted> wanted = LatestWanted(local.pending);
  const std::unordered_set<std::string> unread(server.unread.ids.begin(), server.unread.ids.end());
  const std::unordered_set<std::string> starred(server.starred.ids.begin(), server.starred.ids.end());
  const auto pendingOf = [&](const std::string& id) {
    const auto it = wanted.find(id);
    return it == wanted.end() ? Wanted{} : it->second;
  };

  PullPlan plan;
  std::unordered_set<std::string> listed;
  const auto consider = [&](const std::string& id) {
    if (!listed.insert(id).second || local.deleted.count(id) != 0) return;
    // What the server says, where its lists can say it.
    std::optional<bool> serverRead;
    if (unread.count(id) != 0) serverRead = false;
    else if (server.unread.complete) serverRead = true;
    std::optional<bool> serverStarred;
    if (starred.count(id) != 0) serverStarred = true;
    else if (server.starred.complete) serverStarred = false;
    const Wanted w = pendingOf(id);
    const auto stored = local.items.find(id);
    if (stored == local.items.end()) {
      plan.fetch.push_back({id, {w.read.value_or(serverRead.value_or(false)),
                                 w.starred.value_or(serverStarred.value_or(false))}});
      return;
    }
    const LocalItemState now = stored->second;
    const LocalItemState next{w.read.value_or(serverRead.value_or(now.read)),
                              w.starred.value_or(serverStarred.value_or(now.starred))};
    if (next != now) plan.apply.push_back({id, next});
  };
  for (const ServerIdList* list : {&server.readingList, &server.unread, &server.starred}) {
    for (const std::string& id : list->ids) consider(id);
  }

  if (server.readingList.complete && server.unread.complete && server.starred.complete) {
    for (const auto& [id, state] : local.items) {
      if (listed.count(id) != 0) continue;
      if (!pendingOf(id).starred.value_or(state.starred)) plan.remove.push_back(id);
    }
    std::sort(plan.remove.begin(), plan.remove.end());
  }
  return plan;
}

}  // namespace qb
