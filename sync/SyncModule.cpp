#include "sync/SyncModule.h"

#include <algorithm>

#include "library/Library.h"
#include "library/Sqlite.h"
#include "model/FeedsManager.h"

namespace qb {

namespace {

struct KindName {
  GReaderServerKind kind;
  std::string_view name;
};
constexpr KindName kKindNames[] = {
    {GReaderServerKind::kFreshRss, "freshrss"},       {GReaderServerKind::kMiniflux, "miniflux"},
    {GReaderServerKind::kTheOldReader, "theoldreader"}, {GReaderServerKind::kBazQux, "bazqux"},
    {GReaderServerKind::kOther, "greader"},
};

}  // namespace

std::string_view AccountKindName(GReaderServerKind kind) {
  for (const KindName& k : kKindNames) {
    if (k.kind == kind) return k.name;
  }
  return "greader";
}

std::optional<GReaderServerKind> AccountKindFromName(std::string_view name) {
  for (const KindName& k : kKindNames) {
    if (k.name == name) return k.kind;
  }
  return std::nullopt;
}

void CSyncModule::Migrate(CSqliteDb& db, int from) const {
  if (from < 1) {
    db.Exec(R"sql(
CREATE TABLE sync_accounts(
  account INTEGER PRIMARY KEY REFERENCES groups(id) ON DELETE CASCADE,
  name BLOB NOT NULL,
  kind TEXT NOT NULL,
  api_base TEXT NOT NULL,
  user TEXT NOT NULL);
CREATE TABLE sync_items(
  article INTEGER PRIMARY KEY REFERENCES articles(id) ON DELETE CASCADE,
  account INTEGER NOT NULL REFERENCES groups(id) ON DELETE CASCADE,
  item_id TEXT NOT NULL);
CREATE INDEX sync_items_by_account ON sync_items(account);
CREATE TABLE sync_pending(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  account INTEGER NOT NULL REFERENCES groups(id) ON DELETE CASCADE,
  item_id TEXT NOT NULL,
  flag INTEGER NOT NULL,
  value INTEGER NOT NULL);
CREATE INDEX sync_pending_by_account ON sync_pending(account);
CREATE TABLE sync_deleted(
  account INTEGER NOT NULL REFERENCES groups(id) ON DELETE CASCADE,
  item_id TEXT NOT NULL,
  PRIMARY KEY(account, item_id)) WITHOUT ROWID;
CREATE TABLE sync_lease(
  account INTEGER PRIMARY KEY,
  holder INTEGER NOT NULL,
  expires INTEGER NOT NULL);
)sql");
  }
  if (from < 2) db.Exec("ALTER TABLE sync_accounts ADD COLUMN refresh_minutes INTEGER NOT NULL DEFAULT 0");
}

bool CSyncModule::Load(CLibrary& library) {
  std::map<ObjectId, SyncAccountSettings> accounts;
  std::unordered_map<ObjectId, Item> items;
  std::unordered_map<ObjectId, std::unordered_set<std::string>> deleted;
  try {
    CSqliteDb& db = library.Reader();
    if (db.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'sync_accounts'") == 0) {
      m_accounts.clear();
      m_items.clear();
      m_deleted.clear();
      return true;  // a read-only library older than the module: no accounts
    }
    // A read-only library of the module's first version has no interval.
    const bool hasInterval =
        db.QueryInt("SELECT count(*) FROM pragma_table_info('sync_accounts') WHERE name = 'refresh_minutes'") != 0;
    CSqliteStatement a = db.Prepare(hasInterval
                                        ? "SELECT account, name, kind, api_base, user, refresh_minutes FROM sync_accounts"
                                        : "SELECT account, name, kind, api_base, user, 0 FROM sync_accounts");
    while (a.Step()) {
      SyncAccountSettings s;
      s.account = static_cast<ObjectId>(a.Int(0));
      s.name = a.Text16(1);
      s.kind = AccountKindFromName(a.Text(2)).value_or(GReaderServerKind::kOther);
      s.apiBase = a.Text(3);
      s.user = a.Text(4);
      s.refreshMinutes = static_cast<int32_t>(std::clamp<int64_t>(a.Int(5), 0, 7 * 24 * 60));
      accounts[s.account] = std::move(s);
    }
    CSqliteStatement i = db.Prepare("SELECT article, account, item_id FROM sync_items");
    while (i.Step()) items[static_cast<ObjectId>(i.Int(0))] = {static_cast<ObjectId>(i.Int(1)), i.Text(2)};
    CSqliteStatement d = db.Prepare("SELECT account, item_id FROM sync_deleted");
    while (d.Step()) deleted[static_cast<ObjectId>(d.Int(0))].insert(d.Text(1));
  } catch (const CSqliteError&) {
    return false;
  }
  // What this process has not written yet wins.
  const auto overlay = [&](const Changes& c) {
    for (const auto& [id, s] : c.accounts) accounts[id] = s;
    for (const auto& [id, item] : c.items) items[id] = item;
    for (const Item& item : c.deleted) deleted[item.account].insert(item.id);
  };
  if (m_inFlight) overlay(*m_inFlight);
  overlay(m_pending);
  m_accounts = std::move(accounts);
  m_items = std::move(items);
  m_deleted = std::move(deleted);
  return true;
}

const SyncAccountSettings* CSyncModule::Account(ObjectId account) const {
  auto it = m_accounts.find(account);
  return it == m_accounts.end() ? nullptr : &it->second;
}

void CSyncModule::PutAccount(SyncAccountSettings settings) {
  m_accounts[settings.account] = settings;
  m_pending.accounts[settings.account] = std::move(settings);
}

std::string CSyncModule::ItemIdOf(ObjectId article) const {
  auto it = m_items.find(article);
  return it == m_items.end() ? std::string() : it->second.id;
}

std::unordered_map<std::string, ObjectId> CSyncModule::ArticlesOf(ObjectId account) const {
  std::unordered_map<std::string, ObjectId> out;
  for (const auto& [article, item] : m_items) {
    // A removed source or group reports itself, not each of its articles.
    if (item.account == account && m_model.GetFeed(article) != nullptr) out.emplace(item.id, article);
  }
  return out;
}

std::unordered_set<std::string> CSyncModule::DeletedOf(ObjectId account) const {
  auto it = m_deleted.find(account);
  return it == m_deleted.end() ? std::unordered_set<std::string>{} : it->second;
}

void CSyncModule::SetItemId(ObjectId article, ObjectId account, std::string itemId) {
  m_items[article] = {account, itemId};
  m_pending.items[article] = {account, std::move(itemId)};
}

bool CSyncModule::ReadQueue(CLibrary& library, ObjectId account, std::vector<PendingMark>& out) {
  out.clear();
  try {
    CSqliteStatement s =
        library.Reader().Prepare("SELECT seq, item_id, flag, value FROM sync_pending WHERE account = ? ORDER BY seq");
    s.Bind(1, int64_t{account});
    while (s.Step()) {
      PendingMark m;
      m.seq = static_cast<uint64_t>(s.Int(0));
      m.id = s.Text(1);
      m.flag = s.Int(2) == 1 ? MarkFlag::kStarred : MarkFlag::kRead;
      m.value = s.Int(3) != 0;
      out.push_back(std::move(m));
    }
  } catch (const CSqliteError&) {
    out.clear();
    return false;
  }
  return true;
}

void CSyncModule::Acknowledge(const std::vector<uint64_t>& seqs) {
  m_pending.acknowledged.insert(m_pending.acknowledged.end(), seqs.begin(), seqs.end());
}

std::unordered_set<std::string> CSyncModule::UnwrittenItems(ObjectId account) const {
  std::unordered_set<std::string> out;
  const auto add = [&](const Changes& c) {
    for (const Mark& m : c.marks) {
      if (m.account == account) out.insert(m.id);
    }
  };
  if (m_inFlight) add(*m_inFlight);
  add(m_pending);
  return out;
}

std::unordered_set<std::string> CSyncModule::MarkedSince(uint64_t since) const {
  std::unordered_set<std::string> out;
  for (const auto& [id, count] : m_lastMark) {
    if (count > since) out.insert(id);
  }
  return out;
}

bool CSyncModule::TakeLease(CLibrary& library, ObjectId account, int64_t now, int64_t seconds, int64_t* heldUntil,
                            std::string* error) {
  if (!library.Writable()) {
    if (error != nullptr) *error = "the library cannot be written";
    return false;
  }
  try {
    CLibrary::CShortWait wait(library, m_leaseWaitMs);
    CSqliteDb& db = library.Reader();
    CSqliteTransaction txn(db, true);
    CSqliteStatement q = db.Prepare("SELECT holder, expires FROM sync_lease WHERE account = ?");
    q.Bind(1, int64_t{account});
    if (q.Step() && q.Int(0) != library.Writer() && q.Int(1) > now) {
      if (heldUntil != nullptr) *heldUntil = q.Int(1);
      return false;
    }
    q.Reset();
    CSqliteStatement put = db.Prepare("INSERT OR REPLACE INTO sync_lease(account, holder, expires) VALUES(?, ?, ?)");
    put.Bind(1, int64_t{account});
    put.Bind(2, library.Writer());
    put.Bind(3, now + seconds);
    put.Run();
    txn.Commit();
    return true;
  } catch (const CSqliteError& e) {
    if (error != nullptr) *error = e.Primary() == SQLITE_BUSY ? kLibraryBusy : e.what();
    return false;
  }
}

void CSyncModule::ReleaseLease(CLibrary& library, ObjectId account) {
  if (!library.Writable()) return;
  try {
    CLibrary::CShortWait wait(library, m_leaseWaitMs);
    CSqliteStatement s = library.Reader().Prepare("DELETE FROM sync_lease WHERE account = ? AND holder = ?");
    s.Bind(1, int64_t{account});
    s.Bind(2, library.Writer());
    s.Run();
  } catch (const CSqliteError& e) {
    // Otherwise it runs out by itself.
    if (e.Primary() == SQLITE_BUSY) ReleaseLeaseWithBatch(account, library.Writer());
  }
}

void CSyncModule::ReleaseLeaseWithBatch(ObjectId account, int64_t holder) {
  m_pending.leases.emplace_back(account, holder);
}

void CSyncModule::ModelChanged(const CModelChange& change) {
  if (change.external) return;
  for (const ChangeEntry& e : change.entries) {
    switch (e.kind) {
      case ChangeKind::ArticleRemoved:
        if (auto it = m_items.find(e.id); it != m_items.end()) {
          if (!change.fromServer) {
            m_deleted[it->second.account].insert(it->second.id);
            m_pending.deleted.push_back(it->second);
          }
          m_items.erase(it);  // its row goes with the article's
        }
        break;
      case ChangeKind::GroupRemoved:
        if (m_accounts.erase(e.id) != 0) {
          m_pending.accounts.erase(e.id);
          std::erase_if(m_items, [&](const auto& entry) { return entry.second.account == e.id; });
          m_deleted.erase(e.id);
          std::erase_if(m_pending.deleted, [&](const Item& item) { return item.account == e.id; });
          if (m_accountRemoved) m_accountRemoved(e.id);
          std::erase_if(m_pending.marks, [&](const Mark& m) { return m.account == e.id; });
        }
        break;
      case ChangeKind::ArticleChanged: {
        // What the server said is no change to send back to it.
        if (change.fromServer || !(e.fields & (kArticleRead | kArticleStarred))) break;
        auto it = m_items.find(e.id);
        const CFeed* a = m_model.GetFeed(e.id);
        if (it == m_items.end() || a == nullptr) break;
        if (e.fields & kArticleRead) m_pending.marks.push_back({it->second.account, it->second.id, MarkFlag::kRead, a->m_read});
        if (e.fields & kArticleStarred) {
          m_pending.marks.push_back({it->second.account, it->second.id, MarkFlag::kStarred, a->m_starred});
        }
        m_lastMark[it->second.id] = ++m_markCount;
        break;
      }
      default: break;
    }
  }
}

bool CSyncModule::HasWork() const { return !m_pending.empty(); }

size_t CSyncModule::PendingCount() const {
  const auto count = [](const Changes& c) {
    return c.accounts.size() + c.items.size() + c.marks.size() + c.acknowledged.size() + c.leases.size() +
           c.deleted.size();
  };
  return count(m_pending) + (m_inFlight ? count(*m_inFlight) : 0);
}

ILibraryModule::Work CSyncModule::TakeWork() {
  if (m_pending.empty()) return {};
  m_inFlight = std::move(m_pending);
  m_pending = Changes{};
  return [c = *m_inFlight](CModuleWrite& write) {
    CSqliteDb& db = write.Db();
    for (const auto& [id, s] : c.accounts) {
      CSqliteStatement& st = db.Statement(
          "INSERT OR REPLACE INTO sync_accounts(account, name, kind, api_base, user, refresh_minutes) "
          "SELECT ?1, ?2, ?3, ?4, ?5, ?6 "
          "WHERE EXISTS (SELECT 1 FROM groups WHERE id = ?1)");
      st.Bind(1, int64_t{id});
      st.Bind(2, std::u16string_view(s.name));
      st.BindText(3, AccountKindName(s.kind));
      st.BindText(4, s.apiBase);
      st.BindText(5, s.user);
      st.Bind(6, int64_t{s.refreshMinutes});
      st.Run();
      write.Logged(id);
    }
    for (const auto& [article, item] : c.items) {
      CSqliteStatement& st = db.Statement(
          "INSERT OR REPLACE INTO sync_items(article, account, item_id) SELECT ?1, ?2, ?3 "
          "WHERE EXISTS (SELECT 1 FROM articles WHERE id = ?1) AND EXISTS (SELECT 1 FROM groups WHERE id = ?2)");
      st.Bind(1, int64_t{article});
      st.Bind(2, int64_t{item.account});
      st.BindText(3, item.id);
      st.Run();
      write.Logged(article);
    }
    for (const Mark& m : c.marks) {
      CSqliteStatement& st = db.Statement(
          "INSERT INTO sync_pending(account, item_id, flag, value) SELECT ?1, ?2, ?3, ?4 "
          "WHERE EXISTS (SELECT 1 FROM groups WHERE id = ?1)");
      st.Bind(1, int64_t{m.account});
      st.BindText(2, m.id);
      st.Bind(3, int64_t{m.flag == MarkFlag::kStarred ? 1 : 0});
      st.Bind(4, int64_t{m.value ? 1 : 0});
      st.Run();
      write.Logged(m.account);
    }
    for (uint64_t seq : c.acknowledged) {
      CSqliteStatement& st = db.Statement("DELETE FROM sync_pending WHERE seq = ?");
      st.Bind(1, static_cast<int64_t>(seq));
      st.Run();
    }
    for (const Item& item : c.deleted) {
      CSqliteStatement& st = db.Statement(
          "INSERT OR IGNORE INTO sync_deleted(account, item_id) SELECT ?1, ?2 "
          "WHERE EXISTS (SELECT 1 FROM groups WHERE id = ?1)");
      st.Bind(1, int64_t{item.account});
      st.BindText(2, item.id);
      st.Run();
      write.Logged(item.account);
    }
    for (const auto& [account, holder] : c.leases) {
      CSqliteStatement& st = db.Statement("DELETE FROM sync_lease WHERE account = ? AND holder = ?");
      st.Bind(1, int64_t{account});
      st.Bind(2, holder);
      st.Run();
    }
  };
}

void CSyncModule::WorkDone(bool committed) {
  if (!m_inFlight) return;
  if (!committed) {
    // Written again with the next batch; what changed since wins.
    Changes& c = *m_inFlight;
    for (auto& [id, s] : c.accounts) m_pending.accounts.try_emplace(id, std::move(s));
    for (auto& [id, item] : c.items) m_pending.items.try_emplace(id, std::move(item));
    c.marks.insert(c.marks.end(), m_pending.marks.begin(), m_pending.marks.end());
    m_pending.marks = std::move(c.marks);
    m_pending.acknowledged.insert(m_pending.acknowledged.end(), c.acknowledged.begin(), c.acknowledged.end());
    m_pending.leases.insert(m_pending.leases.end(), c.leases.begin(), c.leases.end());
    m_pending.deleted.insert(m_pending.deleted.end(), c.deleted.begin(), c.deleted.end());
  }
  m_inFlight.reset();
}

void CSyncModule::ChangedElsewhere(CLibrary& library, const IdList&, bool) {
  // Accounts and their items change seldom and at a sync: read them again.
  Load(library);
}

}  // namespace qb
