// The client against a small server that answers the way Miniflux documents
// its side of the API (POSTs authenticated by T alone, edit-tag's a and r
// read from the body only, no stream/contents, numeric continuations,
// short ids listed and long ones in contents, X-Reader-Google-Bad-Token),
// and against answers no server should give.
#include "sync/GReaderClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "base/Text.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SyncDevice.h"

namespace qb {
namespace {

using namespace std::chrono_literals;
using test::Await;
using test::HttpRequest;
using test::HttpResponse;

std::string Decode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

std::multimap<std::string, std::string> ParseForm(std::string_view text) {
  std::multimap<std::string, std::string> fields;
  while (!text.empty()) {
    const std::string_view pair = text.substr(0, text.find('&'));
    const size_t eq = pair.find('=');
    fields.emplace(Decode(pair.substr(0, eq)), eq == std::string_view::npos ? "" : Decode(pair.substr(eq + 1)));
    text.remove_prefix(std::min(text.size(), pair.size() + 1));
  }
  return fields;
}

std::string One(const std::multimap<std::string, std::string>& form, const std::string& name) {
  const auto it = form.find(name);
  return it == form.end() ? "" : it->second;
}

HttpResponse Text(std::string body, int status = 200) {
  HttpResponse r = HttpResponse::Ok(std::move(body), "text/plain; charset=utf-8");
  r.status = status;
  r.reason = status == 200 ? "OK" : "Error";
  return r;
}

class FakeMiniflux {
 public:
  struct Entry {
    bool read = false;
    bool starred = false;
  };

  FakeMiniflux() {
    for (int64_t id = 1; id <= 5; ++id) entries[id] = {};
    server.SetHandler([this](const HttpRequest& r) { return Answer(r); });
  }

  std::string Base() const { return server.Url(""); }
  // Changes what the server does between requests.
  template <class F>
  void Change(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    f();
  }

  HttpResponse Answer(const HttpRequest& request) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::string path = request.path.substr(0, request.path.find('?'));
    const size_t q = request.path.find('?');
    const auto query = ParseForm(q == std::string::npos ? "" : request.path.substr(q + 1));
    const auto body = ParseForm(request.body);
    auto merged = query;
    merged.insert(body.begin(), body.end());
    if (const auto o = overrides.find(path); o != overrides.end()) return o->second;
    if (path == "/accounts/ClientLogin") {
      if (One(merged, "Email") == user && One(merged, "Passwd") == password) {
        return Text("SID=" + token + "\nLSID=" + token + "\nAuth=" + token + "\n");
      }
      HttpResponse refused = HttpResponse::Ok(R"({"error_message":"access unauthorized"})", "application/json");
      refused.status = 401;
      return refused;
    }
    const std::string api = "/reader/api/0/";
    if (path.rfind(api, 0) != 0) return Text("not found", 404);
    const std::string route = path.substr(api.size());
    const auto auth = request.headers.find("authorization");
    const bool allowed = request.method == "POST"
                             ? One(merged, "T") == token
                             : auth != request.headers.end() && auth->second == "GoogleLogin auth=" + token;
    if (!allowed) {
      HttpResponse r = Text("Unauthorized", 401);
      r.headers.emplace_back("X-Reader-Google-Bad-Token", "true");
      return r;
    }
    if (route == "token") return Text(token);
    if (route == "tag/list") {
      return HttpResponse::Ok(R"({"tags":[{"id":"user/1/state/com.google/starred"},)"
                              R"({"id":"user/1/label/Tech","label":"Tech","type":"folder"}]})",
                              "application/json");
    }
    if (route == "subscription/list") {
      return HttpResponse::Ok(R"({"subscriptions":[{"id":"feed/1","title":"One","url":"https://e.org/f",)"
                              R"("categories":[{"id":"user/1/label/Tech","label":"Tech"}]}]})",
                              "application/json");
    }
    if (route == "unread-count") {
      int unread = 0;
      for (const auto& [id, e] : entries) unread += e.read ? 0 : 1;
      return HttpResponse::Ok(R"({"unreadcounts":[{"id":"feed/1","count":)" + std::to_string(unread) + "}]}",
                              "application/json");
    }
    if (route == "stream/items/ids") {
      const std::string s = One(query, "s");
      const bool unreadOnly = One(query, "xt") == "user/-/state/com.google/read";
      std::vector<int64_t> ids;
      for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (s.find("starred") != std::string::npos ? it->second.starred : !(unreadOnly && it->second.read)) {
          ids.push_back(it->first);
        }
      }
      // The continuation is an offset.
      const size_t offset = One(query, "c").empty() ? 0 : std::stoul(One(query, "c"));
      const size_t n = std::stoul(One(query, "n"));
      std::string refs;
      for (size_t i = offset; i < ids.size() && i < offset + n; ++i) {
        refs += (refs.empty() ? "" : ",") + std::string(R"({"id":")") + std::to_string(ids[i]) + "\"}";
      }
      std::string json = R"({"itemRefs":[)" + refs + "]";
      if (offset + n < ids.size()) json += R"(,"continuation":")" + std::to_string(offset + n) + "\"";
      return HttpResponse::Ok(json + "}", "application/json");
    }
    if (route == "stream/items/contents" && request.method == "POST") {
      std::string items;
      for (const auto& [name, value] : merged) {
        if (name != "i") continue;
        const int64_t id = std::stoll(value.substr(value.rfind('/') + 1), nullptr, 16);
        if (entries.count(id) == 0) continue;
        char hex[17];
        std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(id));
        items += (items.empty() ? "" : ",") + std::string(R"({"id":"tag:google.com,2005:reader/item/)") + hex +
                 R"(","title":"Entry )" + std::to_string(id) + R"(","origin":{"streamId":"feed/1"}})";
      }
      return HttpResponse::Ok(R"({"id":"user/-/state/com.google/reading-list","items":[)" + items + "]}",
                              "application/json");
    }
    if (route == "edit-tag" && request.method == "POST") {
      // a and r count only in the body.
      for (const auto& [name, value] : body) {
        if (name != "i") continue;
        const int64_t id = std::stoll(value.substr(value.rfind('/') + 1), nullptr, 16);
        Entry& e = entries[id];
        for (const char* field : {"a", "r"}) {
          const std::string tag = One(body, field);
          if (tag.find("/read") != std::string::npos) e.read = field[0] == 'a';
          if (tag.find("/starred") != std::string::npos) e.starred = field[0] == 'a';
        }
      }
      return Text("OK");
    }
    return HttpResponse::Ok("[]", "application/json");  // every other route, stream/contents too
  }

  std::mutex mutex;
  std::string user = "reader", password = "secret", token = "reader/0a1b";
  std::map<int64_t, Entry> entries;
  std::map<std::string, HttpResponse> overrides;
  // Last, so that it stops before what its handler reads goes.
  test::HttpServer server{2};
};

std::string Id(int64_t n) { return NormalizeItemId(std::to_string(n)); }

TEST(GReaderClientTest, MinifluxsWaysAreMet) {
  FakeMiniflux fake;
  CDownloadPool pool;
  GReaderClientOptions options;
  options.idsPerPage = 2;  // three pages of continuation for five ids
  CGReaderClient client(pool, {GReaderServerKind::kMiniflux, fake.Base(), fake.user}, fake.password, options);

  test::SyncDevice device;
  device.items[Id(5)] = {false, false};
  device.items[Id(9)] = {true, false};  // gone from the server
  device.Mark(Id(5), MarkFlag::kRead, true);
  device.Mark(Id(5), MarkFlag::kStarred, true);
  const GReaderSyncOutcome outcome = device.Sync(client);
  ASSERT_TRUE(outcome.error.ok()) << Utf16ToUtf8(outcome.error.message);
  EXPECT_EQ(outcome.acknowledged, (std::vector<uint64_t>{1, 2}));
  EXPECT_TRUE(fake.entries[5].read && fake.entries[5].starred);
  EXPECT_EQ(outcome.folders.size(), 1u);
  EXPECT_EQ(outcome.unreadCounts.at("feed/1"), 4);
  EXPECT_EQ(outcome.plan.remove, std::vector<std::string>{Id(9)});
  EXPECT_EQ(outcome.items.size(), 4u);
  EXPECT_EQ(device.items.size(), 5u);
  EXPECT_TRUE(device.items.at(Id(5)).starred);

  for (const HttpRequest& r : fake.server.Requests()) {
    EXPECT_EQ(r.path.find("stream/contents"), std::string::npos);
    if (r.method == "POST" && r.path.rfind("/reader/", 0) == 0) {
      EXPECT_EQ(One(ParseForm(r.body), "T"), fake.token) << r.path;
    }
    if (r.path.rfind("/reader/", 0) == 0) {
      EXPECT_EQ(r.headers.at("authorization"), "GoogleLogin auth=" + fake.token) << r.path;
    }
  }

  // The session ends: signed in again, the call retried once.
  fake.Change([&] { fake.token = "reader/ffff"; });
  const uint64_t before = client.RequestsMade();
  EXPECT_TRUE(Await<std::vector<GReaderFolder>>([&](auto done) { client.FetchFolders(done); }).error.ok());
  EXPECT_EQ(client.RequestsMade() - before, 3u);  // refused, ClientLogin, again
  // And when the password changed meanwhile, the server's reason.
  fake.Change([&] {
    fake.token = "reader/eeee";
    fake.password = "changed";
  });
  const auto refused = Await<std::vector<GReaderFolder>>([&](auto done) { client.FetchFolders(done); });
  EXPECT_EQ(refused.error.status, GReaderStatus::kSignInRefused);
  EXPECT_EQ(refused.error.message, u"The server refused the sign-in: access unauthorized.");
}

TEST(GReaderClientTest, HostileAnswersEndTheSyncWithAReasonAndRemoveNothing) {
  HttpResponse slow = HttpResponse::Ok("{}", "application/json");
  slow.delay = 3s;
  HttpResponse stalled = HttpResponse::Ok(R"({"subscriptions":[)" + std::string(5000, ' ') + "]}", "application/json");
  stalled.stallAfter = 20;
  HttpResponse noHeader = Text("Unauthorized", 401);
  struct Case {
    const char* name;
    std::string route;
    HttpResponse answer;
    GReaderStatus status;
    std::u16string message;
  };
  const std::vector<Case> cases = {
      {"truncated", "subscription/list", HttpResponse::Ok(R"({"subscriptions":[{"id":"feed/1")", "application/json"),
       GReaderStatus::kBadAnswer, u"The server's answer to subscription/list is not what the API describes."},
      {"wrong types", "stream/items/ids", HttpResponse::Ok(R"({"itemRefs":{"id":"1"}})", "application/json"),
       GReaderStatus::kBadAnswer, u"The server's answer to stream/items/ids is not what the API describes."},
      {"500", "tag/list", Text("database is down", 500), GReaderStatus::kServerError,
       u"The server answered 500: database is down."},
      {"an error page", "unread-count", HttpResponse::Ok("<html><body>Bad Gateway</body></html>", "text/html"),
       GReaderStatus::kBadAnswer, u"The server's answer to unread-count is not what the API describes."},
      {"401 without a bad-token mark", "tag/list", noHeader, GReaderStatus::kSignInRefused,
       u"The server refused the sign-in: Unauthorized."},
      {"slow", "subscription/list", slow, GReaderStatus::kUnreachable,
       u"The server could not be reached: did not answer in time."},
      {"stalled", "subscription/list", stalled, GReaderStatus::kUnreachable,
       u"The server could not be reached: did not answer in time."},
      {"redirect elsewhere", "tag/list", {}, GReaderStatus::kRedirected, u""},
  };
  for (const Case& c : cases) {
    FakeMiniflux fake;
    fake.overrides["/reader/api/0/" + c.route] = c.answer;
    std::u16string message = c.message;
    if (c.status == GReaderStatus::kRedirected) {
      // To the same server under another address: the session must not go.
      const std::string elsewhere = fake.server.Url("/reader/api/0/tag/list", 2);
      fake.overrides["/reader/api/0/tag/list"] = HttpResponse::Redirect(elsewhere);
      message = u"The server sent the request to another address (" + Widen(elsewhere) +
                u"), which was not followed: give the server's new address.";
    }
    DownloadOptions limits;
    limits.stallTime = 300ms;
    limits.transferDeadline = 1s;
    CDownloadPool pool(limits);
    CGReaderClient client(pool, {GReaderServerKind::kMiniflux, fake.Base(), fake.user}, fake.password);
    test::SyncDevice device;
    device.items[Id(3)] = {true, false};
    device.items[Id(99)] = {false, false};  // not on the server
    device.Mark(Id(3), MarkFlag::kRead, false);
    // The call returns at once whatever the server does.
    const auto start = std::chrono::steady_clock::now();
    std::promise<GReaderReply<GReaderSyncOutcome>> promise;
    GReaderSyncInput input;
    input.local.items.insert(device.items.begin(), device.items.end());
    input.local.pending = device.pending;
    client.Sync(std::move(input), {}, [&](GReaderReply<GReaderSyncOutcome> r) { promise.set_value(std::move(r)); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms) << c.name;
    auto future = promise.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready) << c.name;
    const GReaderReply<GReaderSyncOutcome> reply = future.get();
    EXPECT_EQ(reply.error.status, c.status) << c.name;
    EXPECT_EQ(reply.error.message, message) << c.name;
    EXPECT_FALSE(reply.value.pulled) << c.name;
    EXPECT_TRUE(reply.value.plan.remove.empty()) << c.name;
    // The push came first and stands.
    EXPECT_EQ(reply.value.acknowledged, std::vector<uint64_t>{1}) << c.name;
    for (const HttpRequest& r : fake.server.Requests()) EXPECT_EQ(r.address, "127.0.0.1") << c.name;
  }
}

// A list whose continuation never moves on ends, known to be incomplete,
// and proves nothing by what it lacks.
TEST(GReaderClientTest, AContinuationThatNeverMovesEndsTheListIncomplete) {
  FakeMiniflux fake;
  fake.overrides["/reader/api/0/stream/items/ids"] =
      HttpResponse::Ok(R"({"itemRefs":[{"id":"1"}],"continuation":"same"})", "application/json");
  CDownloadPool pool;
  CGReaderClient client(pool, {GReaderServerKind::kMiniflux, fake.Base(), fake.user}, fake.password);
  const ServerIdList list = Await<ServerIdList>([&](auto done) { client.FetchIds({}, done); }).value;
  EXPECT_EQ(list.ids.size(), 2u);  // the first page, and the one that repeated it
  EXPECT_FALSE(list.complete);
  test::SyncDevice device;
  device.items[Id(42)] = {true, false};
  const GReaderSyncOutcome outcome = device.Sync(client);
  EXPECT_TRUE(outcome.error.ok());
  EXPECT_TRUE(outcome.plan.remove.empty());
  EXPECT_EQ(device.items.count(Id(42)), 1u);
}

// Cancelling (or destroying) the client while a request hangs ends it at
// once, and no reply comes afterwards.
TEST(GReaderClientTest, CancellingEndsWhatHangsAndRepliesNoMore) {
  FakeMiniflux fake;
  HttpResponse silent;
  silent.neverAnswer = true;
  fake.overrides["/reader/api/0/tag/list"] = silent;
  CDownloadPool pool;
  std::atomic<int> replies{0};
  {
    CGReaderClient client(pool, {GReaderServerKind::kMiniflux, fake.Base(), fake.user}, fake.password);
    client.FetchFolders([&](auto) { ++replies; });
    client.FetchFolders([&](auto) { ++replies; });  // queued behind it
    while (fake.server.Counts().accepted < 2) std::this_thread::sleep_for(5ms);  // ClientLogin, tag/list
    const auto start = std::chrono::steady_clock::now();
    client.Cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    fake.Change([&] { fake.overrides.clear(); });
    EXPECT_TRUE(Await<std::vector<GReaderFolder>>([&](auto done) { client.FetchFolders(done); }).error.ok());
    fake.Change([&] { fake.overrides["/reader/api/0/tag/list"] = silent; });
    client.FetchFolders([&](auto) { ++replies; });
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(replies, 0);
}

}  // namespace
}  // namespace qb
