// A client of one account on a Google Reader API server, speaking through
// the program's download pool (IDownloader). No model, no Qt: it takes
// values and gives values.
//
// Every call is asynchronous. The client runs its calls one at a time in
// the order made (at most one request of the account is on the wire), and
// each call ends in exactly one call of its `done`, on the pool's thread,
// where the answers have been parsed (sync/GReaderProtocol.h), unless the
// client is cancelled or destroyed first. A `done` readies the value for
// its owner and returns: it may start further calls of this client, but
// must not cancel or destroy it.
//
// Sign-in is ClientLogin with the user and password; every later request
// carries "Authorization: GoogleLogin auth=..." and every POST also the edit
// token T in its body (Miniflux authenticates a POST by T alone, FreshRSS
// by the header). The client signs in when it first needs to, and again,
// retrying the request once, when a server answers 401 with Google-Bad-Token
// or X-Reader-Google-Bad-Token. Requests carry credentials, so redirects
// are followed on the server's own host only (KeepsToItsHost); a redirect
// elsewhere is an error that names it. The password and the tokens never
// appear in an error message.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/Download.h"
#include "sync/GReaderProtocol.h"
#include "sync/Reconcile.h"

namespace qb {

enum class GReaderStatus {
  kOk,
  kUnreachable,    // no answer: no connection, a timeout, a transfer failure
  kSignInRefused,  // the user, the password or the session was refused
  kServerError,    // an HTTP error status
  kBadAnswer,      // an answer that is not what the call answers with
  kRedirected,     // the server sent the request to another host
  kLocal,          // not the server: the library could not be read or
                   // written, or another process syncs the account
};

struct GReaderError {
  GReaderStatus status = GReaderStatus::kOk;
  long httpStatus = 0;
  // For the user, e.g. "The server refused the sign-in: Unauthorized!".
  std::u16string message;
  bool ok() const { return status == GReaderStatus::kOk; }
};

template <class T>
struct GReaderReply {
  GReaderError error;
  T value{};  // meaningful when error.ok()
};

struct GReaderAccount {
  GReaderServerKind kind = GReaderServerKind::kOther;
  std::string apiBase;  // GReaderApiBase(...).url
  std::string user;
};

struct GReaderClientOptions {
  size_t idsPerPage = 10000;     // n of stream/items/ids
  size_t maxIdsPerList = 1000000;  // a longer list counts as incomplete
  size_t itemsPerRequest = 250;  // ids per stream/items/contents
  size_t editsPerRequest = 250;  // ids per edit-tag
  size_t maxAnswerBytes = size_t{64} * 1024 * 1024;
};

// A stream/items/ids listing, every page of it.
struct GReaderIdsQuery {
  std::string stream = kReadingListStream;
  std::string exclude;  // xt, e.g. kReadStream for the unread ones
};

// What a sync starts from and what it brings back.
struct GReaderSyncInput {
  LocalSnapshot local;  // its `pending` is the whole queue, pushed first
};

struct GReaderSyncProgress {
  size_t itemsFetched = 0;
  size_t itemsToFetch = 0;
};

struct GReaderSyncOutcome {
  // The first failure; the steps before it count (acknowledged entries are
  // done whatever came after).
  GReaderError error;
  std::vector<uint64_t> acknowledged;  // queue entries the server took
  bool pulled = false;                 // the lists below were read whole
  std::vector<GReaderFolder> folders;
  std::vector<GReaderSubscription> subscriptions;
  std::map<std::string, int64_t> unreadCounts;
  PullPlan plan;
  // The articles of plan.fetch the server gave, with their planned flags.
  std::vector<GReaderItem> items;
  uint64_t requests = 0;  // made by this sync
};

class CGReaderClient {
 public:
  template <class T>
  using Done = std::function<void(GReaderReply<T>)>;
  struct Nothing {};

  // The password stays in memory for signing in again when a session ends.
  CGReaderClient(IDownloader& downloader, GReaderAccount account, std::string password,
                 GReaderClientOptions options = {});
  // Cancels. REQUIRES: not called from within a `done`.
  ~CGReaderClient();
  CGReaderClient(const CGReaderClient&) = delete;
  CGReaderClient& operator=(const CGReaderClient&) = delete;

  // Signs in afresh and asks who the session belongs to: the user name the
  // server gives, or the server's reason for refusing.
  void SignIn(Done<std::u16string> done);

  void FetchFolders(Done<std::vector<GReaderFolder>> done);
  void FetchSubscriptions(Done<std::vector<GReaderSubscription>> done);
  void FetchUnreadCounts(Done<std::map<std::string, int64_t>> done);
  // Every page, the continuation sent back as the server gave it.
  void FetchIds(GReaderIdsQuery query, Done<ServerIdList> done);
  // The items of these ids, in requests of itemsPerRequest ids (POST i=);
  // ids the server no longer has are missing from the answer.
  void FetchItems(std::vector<std::string> ids, Done<std::vector<GReaderItem>> done);
  // Adds or removes a tag (kReadStream, kStarredStream) in requests of
  // editsPerRequest ids; the value is how many ids, from the front, the
  // server acknowledged before the first failure.
  void EditTag(std::string tag, bool add, std::vector<std::string> ids, Done<size_t> done);
  // Marks the stream read up to `olderThanUsec` (microseconds since 1970),
  // so that articles that came later stay unread.
  void MarkAllAsRead(std::string stream, int64_t olderThanUsec, Done<Nothing> done);

  // quickadd, then subscription/edit to name it and put it in a folder
  // (empty: wherever the server puts it). The value is the subscription
  // as the server then lists it.
  void Subscribe(std::string feedUrl, std::u16string title, std::u16string folder,
                 Done<GReaderSubscription> done);
  void Unsubscribe(std::string streamId, Done<Nothing> done);
  void Rename(std::string streamId, std::u16string title, Done<Nothing> done);
  // From one folder to another (either empty: none).
  void Move(std::string streamId, std::u16string fromFolder, std::u16string toFolder,
            Done<Nothing> done);
  void RenameFolder(std::u16string from, std::u16string to, Done<Nothing> done);

  // A whole sync: pushes the pending queue (PlanPush), reads the folders,
  // subscriptions, unread counts and the reading, unread and starred lists,
  // plans the pull (PlanPull) and fetches the items it lacks. A failure to
  // reach the server or to sign in stops it at once; a request the server
  // refuses while pushing leaves its entries pending and the pull goes on.
  // `progress` runs on the pool's thread after each batch of items.
  void Sync(GReaderSyncInput input, std::function<void(GReaderSyncProgress)> progress,
            Done<GReaderSyncOutcome> done);

  // Abandons every call; none of their `done` runs once this returns, and
  // later calls run as usual. REQUIRES: not called from within a `done`.
  void Cancel();

  // Requests made so far (sign-ins and retries included).
  uint64_t RequestsMade() const { return m_requests.load(); }

 private:
  struct Call;
  struct Answer;
  struct SyncRun;
  using Next = std::function<void(Answer)>;

  // Runs `start` when the calls before it have ended, with the generation
  // it belongs to, which every request of the call carries; it ends in
  // exactly one Finished(generation).
  void Enqueue(std::function<void(uint64_t generation)> start);
  void Finished(uint64_t generation);
  // One request with the session's credentials, signing in first when
  // there is no session yet and once more after a bad-token answer.
  void Send(Call call, Next next);
  void SendAttempt(std::shared_ptr<Call> call, bool retried, Next next);
  void Login(uint64_t generation, std::function<void(GReaderError)> next);
  void FetchEditToken(uint64_t generation, std::function<void(GReaderError)> next);
  // Starts a transfer unless the client was cancelled since `generation`.
  void Start(DownloadRequest request, uint64_t generation, IDownloader::Done done);
  uint64_t Generation() const;

  void IdsPage(uint64_t generation, std::shared_ptr<GReaderIdsQuery> query, std::shared_ptr<ServerIdList> list,
               std::string continuation, std::function<void(GReaderReply<ServerIdList>)> next);
  void ItemsBatch(uint64_t generation, std::shared_ptr<std::vector<std::string>> ids, size_t from,
                  std::shared_ptr<std::vector<GReaderItem>> items,
                  std::function<void(size_t done, size_t total)> progress,
                  std::function<void(GReaderReply<std::vector<GReaderItem>>)> next);
  void EditBatch(uint64_t generation, std::shared_ptr<TagEdit> edit, size_t from,
                 std::function<void(GReaderReply<size_t>)> next);
  void PostForOk(uint64_t generation, std::string path, FormFields form, std::function<void(GReaderReply<Nothing>)> next);
  void SyncStep(std::shared_ptr<SyncRun> run);

  IDownloader& m_downloader;
  const GReaderAccount m_account;
  const std::string m_password;
  const GReaderClientOptions m_options;
  const uint64_t m_group;
  std::atomic<uint64_t> m_requests{0};

  mutable std::mutex m_mutex;
  std::string m_auth;       // the session (ClientLogin's Auth), empty before
  std::string m_editToken;  // T, empty until needed
  // Grows with every Cancel; shared with the transfers' callbacks.
  const std::shared_ptr<std::atomic<uint64_t>> m_generation = std::make_shared<std::atomic<uint64_t>>(0);
  bool m_busy = false;
  std::vector<std::function<void(uint64_t)>> m_queue;
};

}  // namespace qb
