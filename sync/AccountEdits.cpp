#include "sync/AccountEdits.h"

#include <utility>

#include "base/Text.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

GReaderError LocalError(std::u16string why) { return {GReaderStatus::kLocal, 0, std::move(why)}; }

// The account's folder the node is, or "" for the account itself.
std::u16string FolderName(const CFeedsManager& model, ObjectId group) {
  const CGroup* g = model.GetGroup(group);
  return g == nullptr || group == model.AccountOf(group) ? std::u16string() : g->m_name;
}

// The account's source of this feed, 0 for none.
ObjectId SourceOfUrl(const CFeedsManager& model, ObjectId account, const std::u16string& url) {
  IdList sources;
  model.CollectSources(account, sources);
  for (ObjectId sid : sources) {
    if (model.GetFeedSource(sid)->m_url == url) return sid;
  }
  return 0;
}

}  // namespace

CAccountEdits::CAccountEdits(CFeedsManager& model, IExecutor& owner) : m_model(model), m_owner(owner) {}

void CAccountEdits::Refuse(Done done, std::u16string why) {
  m_owner.Post([done = std::move(done), why = std::move(why)] { done({LocalError(why), 0}); });
}

void CAccountEdits::WithStreamId(CGReaderClient& client, const std::u16string& feedUrl, Done done,
                                 std::function<void(const std::string&)> then) {
  client.FetchSubscriptions([this, feedUrl, done, then](GReaderReply<std::vector<GReaderSubscription>> reply) {
    if (reply.error.ok()) {
      for (const GReaderSubscription& sub : reply.value) {
        if (Utf8ToUtf16(sub.url) == feedUrl) return then(sub.id);
      }
      reply.error = {GReaderStatus::kServerError, 0,
                     u"The server no longer lists this feed; the next sync takes it away here too."};
    }
    m_owner.Post([done, error = std::move(reply.error)] { done({error, 0}); });
  });
}

std::function<void(GReaderReply<CGReaderClient::Nothing>)> CAccountEdits::Then(ObjectId node, Done done,
                                                                               std::function<void()> apply) {
  return [this, node, done, apply](GReaderReply<CGReaderClient::Nothing> reply) {
    m_owner.Post([this, node, done, apply, error = std::move(reply.error)] {
      if (error.ok()) m_model.ApplyAccountState(apply);
      done({error, node});
    });
  };
}

void CAccountEdits::Subscribe(CGReaderClient& client, ObjectId into, const std::u16string& url, Done done) {
  const ObjectId account = m_model.AccountOf(into);
  switch (m_model.CheckNewSourceUrl(into, url)) {
    case CFeedsManager::AddSourceStatus::Added:
      break;
    case CFeedsManager::AddSourceStatus::EmptyUrl:
      return Refuse(std::move(done), u"Please give the feed's address.");
    case CFeedsManager::AddSourceStatus::Duplicate:
      return Refuse(std::move(done), u"The account is already subscribed to this feed.");
    case CFeedsManager::AddSourceStatus::NotAGroup:
      return Refuse(std::move(done), u"Feeds are added to an account itself or to one of its folders.");
  }
  const std::u16string address = CFeedsManager::CleanUrl(url);
  const std::u16string folder = FolderName(m_model, into);
  client.Subscribe(Utf16ToUtf8(address), u"", folder,
                   [this, account, into, folder, done](GReaderReply<GReaderSubscription> reply) {
                     m_owner.Post([this, account, into, folder, done, reply = std::move(reply)] {
                       if (!reply.error.ok() || m_model.GetGroup(account) == nullptr) return done({reply.error, 0});
                       ObjectId sid = 0;
                       m_model.ApplyAccountState([&] {
                         // Where the user put it, unless that folder went
                         // meanwhile; the next sync follows the server.
                         ObjectId target = into;
                         if (m_model.GetGroup(into) == nullptr || m_model.AccountOf(into) != account) target = account;
                         const std::u16string url = Utf8ToUtf16(reply.value.url);
                         sid = SourceOfUrl(m_model, account, url);
                         if (sid == 0) {
                           sid = m_model.AddSource(target, url, Utf8ToUtf16(reply.value.htmlUrl))->m_id;
                         } else if (m_model.FindGroupOfSource(sid)->m_id != target) {
                           m_model.MoveSource(sid, target);
                         }
                         if (!reply.value.title.empty()) m_model.Rename(sid, reply.value.title);
                       });
                       done({{}, sid});
                     });
                   });
}

void CAccountEdits::Unsubscribe(CGReaderClient& client, ObjectId source, Done done) {
  if ((m_model.ServerEditsOf(source) & CFeedsManager::kCanDelete) == 0) {
    return Refuse(std::move(done), u"This is no feed of an account.");
  }
  WithStreamId(client, m_model.GetFeedSource(source)->m_url, done,
               [this, &client, source, done](const std::string& streamId) {
                 client.Unsubscribe(streamId, Then(source, done, [this, source] {
                                      if (const CGroup* g = m_model.FindGroupOfSource(source)) {
                                        m_model.DeleteSource(g->m_id, source);
                                      }
                                    }));
               });
}

void CAccountEdits::Rename(CGReaderClient& client, ObjectId node, const std::u16string& name, Done done) {
  const std::u16string title = Trim(name);
  if ((m_model.ServerEditsOf(node) & CFeedsManager::kCanRename) == 0) {
    return Refuse(std::move(done), u"This is no feed or folder of an account.");
  }
  if (title.empty()) return Refuse(std::move(done), u"Please give a name.");
  const auto apply = [this, node, title] { m_model.Rename(node, title); };
  if (const CFeedSource* s = m_model.GetFeedSource(node)) {
    auto then = Then(node, done, apply);
    return WithStreamId(client, s->m_url, done,
                        [&client, title, then](const std::string& id) { client.Rename(id, title, then); });
  }
  // A folder: the server knows it by its name alone, so two of one name
  // would be one.
  const ObjectId account = m_model.AccountOf(node);
  for (ObjectId g : m_model.GetGroup(account)->m_childGroups) {
    if (g != node && m_model.GetGroup(g)->m_name == title) {
      return Refuse(std::move(done), u"The account has a folder of that name already.");
    }
  }
  client.RenameFolder(m_model.GetGroup(node)->m_name, title, Then(node, done, apply));
}

void CAccountEdits::Move(CGReaderClient& client, ObjectId source, ObjectId target, Done done) {
  if (!m_model.CanMoveThroughServer(source, target)) {
    return Refuse(std::move(done), u"A feed of an account moves only between the account's folders.");
  }
  const std::u16string from = FolderName(m_model, m_model.FindGroupOfSource(source)->m_id);
  const std::u16string to = FolderName(m_model, target);
  WithStreamId(client, m_model.GetFeedSource(source)->m_url, done,
               [this, &client, source, target, from, to, done](const std::string& streamId) {
                 client.Move(streamId, from, to, Then(source, done, [this, source, target] {
                               if (m_model.GetGroup(target) != nullptr) m_model.MoveSource(source, target);
                             }));
               });
}

}  // namespace qb
