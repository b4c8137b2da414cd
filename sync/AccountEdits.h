// The user's edits of an account's structure: subscribing, unsubscribing,
// renaming a subscription or a folder, moving a subscription between the
// account's folders. The structure is the server's, so each edit goes to
// the server at once and the model shows it only when the server has done
// it, as one change that applies the server's state (ApplyAccountState);
// when the server refuses it or cannot be reached, nothing changes here
// and the reason is given. Edits are not queued: an edit the user sees
// refused is one that will not happen behind their back later.
//
// Edits go through the account's client, whose calls run one at a time in
// the order made, so an edit made while a sync runs reaches the server
// after the sync's listing, and is applied here after the sync's outcome.
// The server's id of a subscription is looked up afresh (the subscription
// list) before each edit of it. No Qt.
#pragma once

#include <functional>
#include <string>

#include "base/Executor.h"
#include "model/RSSObject.h"
#include "sync/GReaderClient.h"

namespace qb {

class CFeedsManager;

struct AccountEditResult {
  GReaderError error;
  // Subscribe: the new source; the other edits: the node edited.
  ObjectId node = 0;
};

class CAccountEdits {
 public:
  // `model` must outlive the object; `owner` runs on the model's thread.
  CAccountEdits(CFeedsManager& model, IExecutor& owner);
  // Drops the outcomes still to come (REQUIRES: the clients of the edits
  // still running are cancelled or gone first).
  ~CAccountEdits() = default;
  CAccountEdits(const CAccountEdits&) = delete;
  CAccountEdits& operator=(const CAccountEdits&) = delete;

  using Done = std::function<void(AccountEditResult)>;
  // Each runs `done` on the owner's thread exactly once, after the model
  // shows the edit or with the reason it was not made, unless the client
  // is cancelled first (then never). `client` is the account's, signed in
  // as its user, and must outlive the call. REQUIRES: the owner's thread.

  // A new subscription to the feed at `url` in `into`: the account (no
  // folder) or one of its folders. Its articles come with the next sync.
  void Subscribe(CGReaderClient& client, ObjectId into, const std::u16string& url, Done done);
  void Unsubscribe(CGReaderClient& client, ObjectId source, Done done);
  // A subscription's title or a folder's name.
  void Rename(CGReaderClient& client, ObjectId node, const std::u16string& name, Done done);
  // To the account itself (no folder) or another of its folders.
  void Move(CGReaderClient& client, ObjectId source, ObjectId target, Done done);

 private:
  // Fails at once, from a task of its own, with a reason of this side.
  void Refuse(Done done, std::u16string why);
  // The server's id of the subscription to `feedUrl`, then `then` with it.
  void WithStreamId(CGReaderClient& client, const std::u16string& feedUrl, Done done,
                    std::function<void(const std::string& streamId)> then);
  // Posts the server's answer to the owner, which applies `apply` (inside
  // ApplyAccountState) when the server did the edit.
  std::function<void(GReaderReply<CGReaderClient::Nothing>)> Then(ObjectId node, Done done,
                                                                  std::function<void()> apply);

  CFeedsManager& m_model;
  CExecutorScope m_owner;  // last: its tasks use the model
};

}  // namespace qb
