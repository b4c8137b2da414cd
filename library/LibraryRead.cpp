// The library's reading side: the load of the model, the texts and the
// search, what other processes committed, the modules' tables.
#include "library/Library.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <unordered_set>

#include "base/Random.h"
#include "base/SearchText.h"
#include "base/Text.h"
#include "base/UserFolders.h"
#include "library/LibraryModule.h"
#include "library/LibraryRows.h"
#include "library/LibrarySalvage.h"
#include "library/LibrarySchema.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {

using library::ColumnDate;
using library::LowestInAGroupRing;
using library::RowKind;

namespace {

// A group, source or article row as the batch (and the read-back of another
// process's rows) carries it.
CLibraryBatch::Place ColumnPlace(const CSqliteStatement& s, int parent, int position) {
  CLibraryBatch::Place p;
  p.listed = !s.IsNull(parent);
  p.parent = p.listed ? static_cast<ObjectId>(s.Int(parent)) : 0;
  p.position = s.Int(position);
  return p;
}

template <class Row, class Table>
Row RowOf(const CSqliteStatement& s, const Table& table) {
  Row r;
  r.id = static_cast<ObjectId>(s.Int(0));
  r.write = kRowInsert;
  r.place = ColumnPlace(s, 1, 2);
  library::ReadValues(s, 3, r.values, table);
  return r;
}

CLibraryBatch::Group GroupRow(const CSqliteStatement& s) { return RowOf<CLibraryBatch::Group>(s, kGroupFieldTable); }
CLibraryBatch::Source SourceRow(const CSqliteStatement& s) { return RowOf<CLibraryBatch::Source>(s, kSourceFieldTable); }
CLibraryBatch::Article ArticleRow(const CSqliteStatement& s) {
  return RowOf<CLibraryBatch::Article>(s, kArticleFieldTable);
}

// Members of a list, to be put in (position, id) order.
struct Member {
  int64_t position;
  ObjectId id;
  bool operator<(const Member& o) const { return position != o.position ? position < o.position : id < o.id; }
};

}  // namespace

// --- loading

int64_t CLibrary::NextPosition() {
  if (!m_read.IsOpen()) return 1;
  try {
    return m_read.QueryInt(
               "SELECT max(coalesce((SELECT max(position) FROM groups), 0), "
               "coalesce((SELECT max(position) FROM sources), 0), "
               "coalesce((SELECT max(position) FROM articles), 0))") +
           1;
  } catch (const CSqliteError&) {
    return 1;
  }
}

int64_t CLibrary::NextHistorySeq() {
  if (!m_read.IsOpen()) return 1;
  try {
    return m_read.QueryInt("SELECT coalesce(max(seq), 0) FROM history") + 1;
  } catch (const CSqliteError&) {
    return 1;
  }
}

LibraryLoadResult CLibrary::Load(CFeedsManager& manager, LoadScope scope) {
  LibraryLoadResult result;
  CModelWriter(manager).Storage().Clear();
  CModelWriter(manager).RootGroups().clear();
  manager.m_unreplaceableFile.clear();
  manager.SetArticleStore(this);
  try {
    // One read transaction: the rows of one moment, whatever others commit.
    CSqliteTransaction txn(m_read, false);
    std::vector<Member> roots;
    std::unordered_map<ObjectId, std::vector<Member>> childGroups, groupSources, sourceArticles;
    std::unordered_map<ObjectId, ObjectId> parentOf;  // listed groups

    CSqliteStatement groups = m_read.Prepare("SELECT " + m_columns.groups + " FROM groups");
    // An identifier stored twice (only a damaged file holds one) keeps the
    // first row read.
    while (groups.Step()) {
      const CLibraryBatch::Group row = GroupRow(groups);
      if (row.id == 0 || CModelWriter(manager).Storage().Lookup(row.id) != nullptr) continue;
      auto record = std::make_unique<CGroup>();
      record->m_id = row.id;
      static_cast<GroupFields&>(*record) = row.values;
      CModelWriter(manager).Storage().Register(std::move(record), row.id);
      if (!row.place.listed) continue;
      parentOf[row.id] = row.place.parent;
      (row.place.parent == 0 ? roots : childGroups[row.place.parent]).push_back({row.place.position, row.id});
    }
    // A group under a group the library does not hold (deleted by another
    // process meanwhile) goes to the root level.
    for (auto it = childGroups.begin(); it != childGroups.end();) {
      if (manager.GetGroup(it->first) != nullptr) {
        ++it;
        continue;
      }
      for (const Member& m : it->second) {
        roots.push_back(m);
        result.rehomedGroups.push_back(m.id);
        parentOf[m.id] = 0;
      }
      it = childGroups.erase(it);
    }
    CSqliteStatement sources = m_read.Prepare("SELECT " + m_columns.sources + " FROM sources");
    std::vector<Member> homeless;
    while (sources.Step()) {
      const CLibraryBatch::Source row = SourceRow(sources);
      if (row.id == 0 || CModelWriter(manager).Storage().Lookup(row.id) != nullptr) continue;
      auto record = std::make_unique<CFeedSource>();
      record->m_id = row.id;
      static_cast<SourceFields&>(*record) = row.values;
      CModelWriter(manager).Storage().Register(std::move(record), row.id);
      if (!row.place.listed) continue;
      if (manager.GetGroup(row.place.parent) == nullptr) {
        homeless.push_back({row.place.position, row.id});
      } else {
        groupSources[row.place.parent].push_back({row.place.position, row.id});
      }
    }
    if (scope == LoadScope::Everything) {
      CSqliteStatement articles = m_read.Prepare("SELECT " + m_columns.articles + " FROM articles");
      while (articles.Step()) {
        const CLibraryBatch::Article row = ArticleRow(articles);
        if (row.id == 0 || CModelWriter(manager).Storage().Lookup(row.id) != nullptr) continue;
        auto record = std::make_unique<CFeed>();
        record->m_id = row.id;
        static_cast<ArticleFields&>(*record) = row.values;
        record->m_textsStored = true;
        CModelWriter(manager).Storage().Register(std::move(record), row.id);
        if (row.place.listed && manager.GetFeedSource(row.place.parent) != nullptr) {
          sourceArticles[row.place.parent].push_back({row.place.position, row.id});
        }
      }
      // Keys in key order into the map; the time index in the order of
      // addition (seq).
      std::unordered_map<ObjectId, std::vector<std::pair<int64_t, std::u16string>>> additions;
      CSqliteStatement history = m_read.Prepare("SELECT source, key, article, first_seen, seq FROM history");
      while (history.Step()) {
        CFeedSource* s = CModelWriter(manager).Source(static_cast<ObjectId>(history.Int(0)));
        if (s == nullptr) continue;
        std::u16string key = history.Text16(1);
        HistoryEntry entry{static_cast<ObjectId>(history.Int(2)), ColumnDate(history, 3)};
        additions[s->m_id].emplace_back(history.Int(4), key);
        s->m_history.emplace(std::move(key), entry);
      }
      for (auto& [sid, keys] : additions) {
        std::sort(keys.begin(), keys.end());
        std::vector<std::u16string> order;
        order.reserve(keys.size());
        for (auto& k : keys) order.push_back(std::move(k.second));
        CModelWriter(manager).Source(sid)->RebuildHistoryIndex(order);
      }
    }
    manager.RestoreRetentionDays(static_cast<int32_t>(MetaInt(m_read, "retention_days", 0)));

    auto fill = [](IdList& list, std::vector<Member>& members) {
      std::sort(members.begin(), members.end());
      list.reserve(members.size());
      for (const Member& m : members) list.push_back(m.id);
    };
    fill(CModelWriter(manager).RootGroups(), roots);
    for (auto& [gid, members] : childGroups) fill(CModelWriter(manager).Group(gid)->m_childGroups, members);
    for (auto& [gid, members] : groupSources) fill(CModelWriter(manager).Group(gid)->m_sources, members);
    for (auto& [sid, members] : sourceArticles) fill(CModelWriter(manager).Source(sid)->m_articles, members);

    // Groups whose parents form a ring that never reaches the root level
    // (two processes moved them into each other): the lowest identifier of
    // each ring goes to the root level. A chain that ends at a group no
    // list names is a subtree listed nowhere, kept as it is.
    while (const ObjectId lowest = LowestInAGroupRing(parentOf)) {
      if (CGroup* p = CModelWriter(manager).Group(parentOf[lowest])) p->RemoveSubgroup(lowest);
      CModelWriter(manager).RootGroups().push_back(lowest);
      parentOf[lowest] = 0;
      result.rehomedGroups.push_back(lowest);
    }
    // A source whose group is gone goes to the first root group.
    std::sort(homeless.begin(), homeless.end());
    if (!homeless.empty() && !CModelWriter(manager).RootGroups().empty()) {
      CGroup* first = CModelWriter(manager).Group(CModelWriter(manager).RootGroups().front());
      for (const Member& m : homeless) {
        first->m_sources.push_back(m.id);
        result.rehomedSources.push_back(m.id);
      }
    }

    std::unordered_map<ObjectId, FeedCounts> counts;
    if (scope == LoadScope::Tree) {
      CSqliteStatement c = m_read.Prepare("SELECT source, read, count(*) FROM articles GROUP BY source, read");
      while (c.Step()) {
        FeedCounts& n = counts[static_cast<ObjectId>(c.Int(0))];
        (c.Int(1) != 0 ? n.read : n.unread) += static_cast<int>(c.Int(2));
      }
    }
    txn.Commit();
    const bool noRoot = CModelWriter(manager).RootGroups().empty();
    manager.FixUpAfterLoad();
    if (noRoot && !CModelWriter(manager).RootGroups().empty())
      result.createdRoot = CModelWriter(manager).RootGroups().front();
    if (scope == LoadScope::Tree) manager.SetStoredCounts(counts);
    result.ok = true;
  } catch (const CSqliteError& e) {
    result.error = e.what();
    CModelWriter(manager).Storage().Clear();
    CModelWriter(manager).RootGroups().clear();
    manager.FixUpAfterLoad();
  } catch (const std::bad_alloc&) {
    result.error = "out of memory";
    CModelWriter(manager).Storage().Clear();
    CModelWriter(manager).RootGroups().clear();
    manager.FixUpAfterLoad();
  }
  return result;
}

// --- texts and search

bool CLibrary::ReadArticleTexts(ObjectId article, CArticleTexts& out) {
  out = CArticleTexts{};
  if (!m_read.IsOpen()) return false;
  try {
    CSqliteStatement& s = m_read.Statement(
        m_textChecksums ? "SELECT t.description, x.body, t.checksum FROM article_texts t "
                          "LEFT JOIN texts x ON x.id = t.source_text WHERE t.article = ?"
                        : "SELECT t.description, x.body, NULL FROM article_texts t "
                          "LEFT JOIN texts x ON x.id = t.source_text WHERE t.article = ?");
    s.Bind(1, int64_t{article});
    const bool found = s.Step();
    if (found) {
      std::u16string description = s.Text16(0);
      // A text whose pages were overwritten is never shown as the article's.
      if (!s.IsNull(2) && library::TextHash(description) != s.Int(2)) {
        m_damaged = true;
        s.Reset();
        return false;
      }
      out.description = SharedText(std::move(description));
      out.sourceText = SharedText(s.Text16(1));
    }
    s.Reset();
    return found;
  } catch (const CSqliteError& e) {
    if (e.IsDamage()) m_damaged = true;
    out = CArticleTexts{};
    return false;
  }
}

std::string CLibrary::ModuleMatches() const {
  // An article matches when all the words are in one index: its own, or a
  // module's (whose words of an article include its title and channel).
  std::string sql;
  for (const ModuleSlot& slot : m_modules) {
    const char* table = slot.module->SearchTable();
    // Without its kind the module's tables were never made in this library.
    if (table == nullptr || slot.kind == 0) continue;
    sql += std::string(" UNION SELECT rowid FROM ") + table + " WHERE " + table + " MATCH ?1";
  }
  return sql;
}

bool CLibrary::MatchArticles(const std::vector<std::u16string>& words, IdList& out) {
  if (!m_read.IsOpen() || words.empty()) return false;
  try {
    CSqliteStatement& s = m_read.Statement("SELECT rowid FROM search WHERE search MATCH ?1" + ModuleMatches());
    s.BindText(1, FullTextQuery(words));
    while (s.Step()) out.push_back(static_cast<ObjectId>(s.Int(0)));
    s.Reset();
    return true;
  } catch (const CSqliteError&) {
    return false;
  }
}

IdList CLibrary::Search(std::u16string_view query, const IdList* sources) {
  IdList result;
  if (!m_read.IsOpen()) return result;
  const std::vector<std::u16string> words = SearchWords(query);
  std::unordered_set<ObjectId> wanted;
  if (sources != nullptr) wanted.insert(sources->begin(), sources->end());
  struct Found {
    double key;  // the date on a continuous scale; undated last
    ObjectId id;
  };
  std::vector<Found> found;
  try {
    CSqliteStatement& s =
        words.empty()            ? m_read.Statement("SELECT id, date, source FROM articles")
        : ModuleMatches().empty() ? m_read.Statement(
                                        "SELECT a.id, a.date, a.source FROM search JOIN articles a ON a.id = search.rowid "
                                        "WHERE search MATCH ?1")
                                  : m_read.Statement("SELECT id, date, source FROM articles WHERE id IN ("
                                                     "SELECT rowid FROM search WHERE search MATCH ?1" +
                                                     ModuleMatches() + ")");
    if (!words.empty()) s.BindText(1, FullTextQuery(words));
    while (s.Step()) {
      if (sources != nullptr && (s.IsNull(2) || wanted.count(static_cast<ObjectId>(s.Int(2))) == 0)) continue;
      const CDateTime date = ColumnDate(s, 1);
      found.push_back({date.IsValid() ? date.LinearDays() : -std::numeric_limits<double>::infinity(),
                       static_cast<ObjectId>(s.Int(0))});
    }
    s.Reset();
  } catch (const CSqliteError&) {
    return result;
  }
  std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) {
    return x.key != y.key ? x.key > y.key : x.id > y.id;
  });
  result.reserve(found.size());
  for (const Found& f : found) result.push_back(f.id);
  return result;
}

// --- other processes

bool CLibrary::OthersCommitted() {
  if (!m_read.IsOpen()) return false;
  try {
    const int64_t version = m_read.QueryInt("PRAGMA data_version");
    const bool changed = m_dataVersion >= 0 && version != m_dataVersion;
    m_dataVersion = version;
    return changed;
  } catch (const CSqliteError&) {
    return false;
  }
}

int64_t CLibrary::LastChange() {
  if (!m_read.IsOpen()) return 0;
  try {
    return m_read.QueryInt("SELECT coalesce(max(seq), 0) FROM changes");
  } catch (const CSqliteError&) {
    return 0;
  }
}

LibraryChanges CLibrary::ChangesSince(int64_t since) {
  LibraryChanges out;
  out.last = since;
  if (!m_read.IsOpen()) return out;
  try {
    CSqliteTransaction txn(m_read, false);
    const int64_t oldest = m_read.QueryInt("SELECT coalesce(min(seq), 0) FROM changes");
    const int64_t newest = m_read.QueryInt("SELECT coalesce(max(seq), 0) FROM changes");
    if (newest > since && oldest > since + 1) {
      out.resync = true;
      out.last = newest;
      out.ok = true;
      return out;
    }
    std::unordered_set<int64_t> seen[library::kRowKinds];
    std::unordered_map<int64_t, std::unordered_set<int64_t>> moduleSeen;
    CSqliteStatement& s = m_read.Statement("SELECT seq, writer, kind, id FROM changes WHERE seq > ? ORDER BY seq");
    s.Bind(1, since);
    while (s.Step()) {
      out.last = s.Int(0);
      if (s.Int(1) == m_writer) continue;
      const int64_t kind = s.Int(2);
      const int64_t id = s.Int(3);
      if (kind >= library::kFirstModuleKind) {
        IdList& ids = out.modules[kind];
        if (moduleSeen[kind].insert(id).second) ids.push_back(static_cast<ObjectId>(id));
        continue;
      }
      if (kind < 1 || kind >= library::kRowKinds || !seen[kind].insert(id).second) continue;
      switch (static_cast<RowKind>(kind)) {
        case RowKind::Group: out.groups.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::Source: out.sources.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::Article: out.articles.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::History: out.histories.push_back(static_cast<ObjectId>(id)); break;
        case RowKind::Settings: out.settings = true; break;
        case RowKind::UpdateState: break;  // the update state's module logs under its own kind
      }
    }
    s.Reset();
    out.ok = true;
  } catch (const CSqliteError&) {
    out.ok = false;
  }
  return out;
}

bool CLibrary::ReadRows(const LibraryChanges& which, CLibraryBatch& out, std::string* error) {
  out = CLibraryBatch{};
  if (!m_read.IsOpen()) return false;
  try {
    CSqliteTransaction txn(m_read, false);
    CSqliteStatement& g = m_read.Statement("SELECT " + m_columns.groups + " FROM groups WHERE id = ?");
    for (ObjectId id : which.groups) {
      g.Bind(1, int64_t{id});
      if (g.Step()) {
        out.groups.push_back(GroupRow(g));
      } else {
        out.removedGroups.push_back(id);
      }
      g.Reset();
    }
    CSqliteStatement& s = m_read.Statement("SELECT " + m_columns.sources + " FROM sources WHERE id = ?");
    for (ObjectId id : which.sources) {
      s.Bind(1, int64_t{id});
      if (s.Step()) {
        out.sources.push_back(SourceRow(s));
      } else {
        out.removedSources.push_back(id);
      }
      s.Reset();
    }
    CSqliteStatement& a =
        m_read.Statement("SELECT " + m_columns.articles + " FROM articles WHERE id = ?");
    for (ObjectId id : which.articles) {
      a.Bind(1, int64_t{id});
      if (a.Step()) {
        out.articles.push_back(ArticleRow(a));
      } else {
        out.removedArticles.push_back(id);
      }
      a.Reset();
    }
    CSqliteStatement& h =
        m_read.Statement("SELECT key, article, first_seen, seq FROM history WHERE source = ? ORDER BY seq");
    for (ObjectId id : which.histories) {
      CLibraryBatch::History history;
      history.source = id;
      history.cleared = true;
      h.Bind(1, int64_t{id});
      while (h.Step()) {
        history.put.push_back({h.Text16(0), HistoryEntry{static_cast<ObjectId>(h.Int(1)), ColumnDate(h, 2)}, h.Int(3)});
      }
      h.Reset();
      out.histories.push_back(std::move(history));
    }
    if (which.settings) out.retentionDays = static_cast<int32_t>(MetaInt(m_read, "retention_days", 0));
    return true;
  } catch (const CSqliteError& e) {
    if (error != nullptr) *error = e.what();
    return false;
  }
}

void CLibrary::SetCommitHook(std::function<void()> hook) {
  m_commitHook = std::move(hook);
  if (!m_write.IsOpen()) return;
  if (!m_commitHook) {
    sqlite3_commit_hook(m_write.handle(), nullptr, nullptr);
    return;
  }
  sqlite3_commit_hook(
      m_write.handle(),
      [](void* self) {
        static_cast<CLibrary*>(self)->m_commitHook();
        return 0;  // the commit goes ahead
      },
      this);
}

bool CLibrary::ReadUpdateStates(std::vector<LibraryUpdateState>& out) {
  out.clear();
  if (!m_read.IsOpen()) return false;
  try {
    if (m_read.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'update_state'") == 0) return true;
    library::ReadUpdateStates(m_read, out);
    return true;
  } catch (const CSqliteError&) {
    out.clear();
    return false;
  }
}

size_t CLibrary::StarredCount() {
  if (!m_read.IsOpen() || m_columns.articles.find("starred") == std::string::npos) return 0;
  try {
    return static_cast<size_t>(m_read.QueryInt("SELECT count(*) FROM articles WHERE starred"));
  } catch (const CSqliteError&) {
    return 0;
  }
}

bool CLibrary::ReadUpdateState(ObjectId source, LibraryUpdateState& out) {
  if (!m_read.IsOpen()) return false;
  try {
    return library::ReadUpdateState(m_read, source, out);
  } catch (const CSqliteError&) {
    return false;
  }
}

void CLibrary::AddModule(ILibraryModule& module) {
  RemoveModule(module);
  const std::string name(module.Name());
  int64_t kind = 0;
  try {
    if (m_write.IsOpen() && !m_damaged) {
      CSqliteTransaction txn(m_read, true);
      const int from = static_cast<int>(MetaInt(m_read, "module:" + name, 0));
      if (from < module.Version()) {
        module.Migrate(m_read, from);
        SetMeta(m_read, "module:" + name, module.Version());
      }
      kind = MetaInt(m_read, "module_kind:" + name, 0);
      if (kind == 0) {
        kind = std::max<int64_t>(library::kFirstModuleKind - 1,
                                 m_read.QueryInt("SELECT coalesce(max(value), 0) FROM meta WHERE substr(key, 1, 12) = 'module_kind:'")) +
               1;
        SetMeta(m_read, "module_kind:" + name, kind);
      }
      txn.Commit();
    } else if (m_read.IsOpen()) {
      kind = MetaInt(m_read, "module_kind:" + name, 0);
    }
  } catch (const CSqliteError&) {
    // Without its tables the module stores nothing; its work fails with
    // the batch, and is said like any failed write.
  }
  m_modules.push_back({&module, kind});
}

void CLibrary::RemoveModule(ILibraryModule& module) {
  std::erase_if(m_modules, [&](const ModuleSlot& slot) { return slot.module == &module; });
}

bool CLibrary::StoredIds(IdList& groups, IdList& sources, IdList& articles) {
  if (!m_read.IsOpen()) return false;
  try {
    CSqliteTransaction txn(m_read, false);
    const std::pair<const char*, IdList*> tables[] = {
        {"SELECT id FROM groups", &groups}, {"SELECT id FROM sources", &sources}, {"SELECT id FROM articles", &articles}};
    for (const auto& [sql, out] : tables) {
      CSqliteStatement s = m_read.Prepare(sql);
      while (s.Step()) out->push_back(static_cast<ObjectId>(s.Int(0)));
    }
    return true;
  } catch (const CSqliteError&) {
    return false;
  }
}

}  // namespace qb
