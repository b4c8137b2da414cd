// The classic data file and the library: the import of a data file, record
// by record, and the export of a library.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "library/Library.h"
#include "library/LibraryRows.h"
#include "library/LibrarySchema.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {

using library::BindDate;
using library::LowestInAGroupRing;

namespace {

// The record a later one with the same identifier replaces leaves the
// library's tables too.
void ForgetImportedTexts(CSqliteDb& db, const CFeed& old) {
  CSqliteStatement& row = db.Statement("SELECT description, source_text FROM article_texts WHERE article = ?");
  row.Bind(1, int64_t{old.m_id});
  if (!row.Step()) {
    row.Reset();
    return;
  }
  const std::u16string description = row.Text16(0);
  const int64_t sourceText = row.Int(1);
  row.Reset();
  UnindexArticle(db, old.m_id, old.m_title, old.m_channel, description);
  library::ReleaseText(db, sourceText);
  CSqliteStatement& gone = db.Statement("DELETE FROM article_texts WHERE article = ?");
  gone.Bind(1, int64_t{old.m_id});
  gone.Run();
}

// Reads the whole data file the way CFeedsManager::Serialize does, writing
// each article's texts to the library as soon as the article is whole, so
// the model keeps none of them. Returns how the read ended.
LoadStatus ReadRecords(CArchive& ar, CFeedsManager& m, CSqliteDb& db, std::string& detail,
                       const ImportProgress* progress) {
  CObjectStorage& store = CModelWriter(m).Storage();
  try {
    const uint8_t v = ar.SerializeHeader(1, u"CFeedsManager");
    if (v >= 1) {
      CModelWriter(m).RootGroups() = ar.ReadIdList();
      const uint8_t sv = ar.SerializeHeader(1, u"CObjectStorage");
      if (sv >= 1) {
        const uint32_t count = ar.ReadU32();
        for (uint32_t i = 0; i < count; ++i) {
          // The stated count is not trusted for anything but the progress.
          if (progress != nullptr && *progress && i % 256 == 0) (*progress)(i, count);
          const uint32_t code = ar.ReadU32();
          std::unique_ptr<RSSObject> record = CreateByTypeCode(code);
          if (!record) {
            CArchive::Fail(ArchiveCause::BadClass, "unknown record type code " + std::to_string(code));
          }
          record->Serialize(ar);
          const ObjectId id = ar.ReadU32();
          // A later record with the same identifier replaces the earlier.
          if (RSSObject* old = store.Lookup(id)) {
            if (old->Type() == RecordType::Feed) ForgetImportedTexts(db, *static_cast<CFeed*>(old));
            store.Remove(id);
          }
          if (record->Type() == RecordType::Feed) {
            auto& a = static_cast<CFeed&>(*record);
            const CArticleTexts texts{SharedText(std::move(a.m_description)), a.m_sourceText};
            library::InsertArticleTexts(db, id, a.m_title, a.m_channel, texts);
            std::u16string().swap(a.m_description);  // frees the buffer, as an assignment would not
            a.m_sourceText = SharedText();
            a.m_textsStored = true;
          }
          store.Register(std::move(record), id);
        }
      }
    }
    return LoadStatus::Ok;
  } catch (const CArchiveException& e) {
    detail = e.what();
    switch (e.Cause()) {
      case ArchiveCause::BadSchema: return LoadStatus::BadSchema;
      case ArchiveCause::BadClass: return LoadStatus::BadClass;
      case ArchiveCause::EndOfFile: return LoadStatus::EndOfFile;
      case ArchiveCause::Generic: return LoadStatus::Generic;
    }
    return LoadStatus::Generic;
  } catch (const std::bad_alloc&) {
    detail = "out of memory";
    return LoadStatus::Generic;
  }
}

// The rows of the repaired model: lists become parents and positions (1,
// 2, ... in list order), histories keep the order of their time index.
void WriteRows(CSqliteDb& db, const CFeedsManager& m) {
  int64_t position = 0;
  std::unordered_map<ObjectId, std::pair<ObjectId, int64_t>> groupPlace, sourcePlace, articlePlace;
  for (ObjectId id : m.RootGroups()) groupPlace[id] = {0, ++position};
  for (const auto& [id, record] : m.Storage().IdIndex()) {
    if (const CGroup* g = m.GetGroup(id)) {
      for (ObjectId c : g->m_childGroups) groupPlace[c] = {id, ++position};
      for (ObjectId s : g->m_sources) sourcePlace[s] = {id, ++position};
    } else if (const CFeedSource* s = m.GetFeedSource(id)) {
      for (ObjectId a : s->m_articles) articlePlace[a] = {id, ++position};
    }
  }
  auto bindPlace = [](CSqliteStatement& s, const std::unordered_map<ObjectId, std::pair<ObjectId, int64_t>>& places,
                      ObjectId id) {
    auto it = places.find(id);
    if (it == places.end()) {
      s.BindNull(2);
      s.Bind(3, int64_t{0});
    } else {
      s.Bind(2, int64_t{it->second.first});
      s.Bind(3, it->second.second);
    }
  };
  // The rows' columns as the field tables name them.
  auto insert = [&](const char* table, const char* list, const std::string& columns, const std::string& marks) -> auto& {
    return db.Statement(std::string("INSERT INTO ") + table + "(id, " + list + ", position, " + columns +
                        ") VALUES(?, ?, ?" + marks + ")");
  };
  CSqliteStatement& group = insert("groups", "parent", library::ValueColumns<GroupFields>(kGroupFieldTable),
                                   library::ValueMarks<GroupFields>(kGroupFieldTable));
  CSqliteStatement& source = insert("sources", "grp", library::ValueColumns<SourceFields>(kSourceFieldTable),
                                    library::ValueMarks<SourceFields>(kSourceFieldTable));
  CSqliteStatement& article = insert("articles", "source", library::ValueColumns<ArticleFields>(kArticleFieldTable),
                                     library::ValueMarks<ArticleFields>(kArticleFieldTable));
  CSqliteStatement& history =
      db.Statement("INSERT INTO history(source, key, article, first_seen, seq) VALUES(?, ?, ?, ?, ?)");
  int64_t seq = 0;
  const int64_t importedAt = static_cast<int64_t>(::time(nullptr));
  for (const auto& [id, record] : m.Storage().IdIndex()) {
    if (const CGroup* g = m.GetGroup(id)) {
      group.Bind(1, int64_t{id});
      bindPlace(group, groupPlace, id);
      library::BindValues<GroupFields>(group, 4, *g, kGroupFieldTable);
      group.Run();
    } else if (const CFeedSource* s = m.GetFeedSource(id)) {
      source.Bind(1, int64_t{id});
      bindPlace(source, sourcePlace, id);
      library::BindValues<SourceFields>(source, 4, *s, kSourceFieldTable);
      source.Run();
      for (const auto& [time, key] : s->HistoryTimeIndex()) {
        const HistoryEntry& entry = s->m_history.at(key);
        history.Bind(1, int64_t{id});
        history.Bind(2, std::u16string_view(key));
        history.Bind(3, int64_t{entry.articleId});
        BindDate(history, 4, entry.firstSeen);
        history.Bind(5, ++seq);
        history.Run();
      }
    } else if (const CFeed* a = m.GetFeed(id)) {
      article.Bind(1, int64_t{id});
      bindPlace(article, articlePlace, id);
      // The classic file has no time of arrival: the import is it.
      ArticleFields values = *a;
      if (values.m_arrived == 0) values.m_arrived = importedAt;
      library::BindValues<ArticleFields>(article, 4, values, kArticleFieldTable);
      article.Run();
    }
  }
}

// Finds a ring of groups each listed in the next, none at the root level,
// and takes its lowest identifier out of its parent's list. False when
// there is none.
bool OpenOneRing(CFeedsManager& m) {
  std::unordered_map<ObjectId, ObjectId> parentOf;
  for (ObjectId id : CModelWriter(m).RootGroups()) parentOf[id] = 0;
  for (const auto& [id, record] : CModelWriter(m).Storage().IdIndex()) {
    if (const CGroup* g = m.GetGroup(id)) {
      for (ObjectId c : g->m_childGroups) parentOf[c] = id;
    }
  }
  const ObjectId lowest = LowestInAGroupRing(parentOf);
  if (lowest == 0) return false;
  if (CGroup* p = CModelWriter(m).Group(parentOf.at(lowest))) p->RemoveSubgroup(lowest);
  return true;
}

}  // namespace

void CLibrary::RepairForLibrary(CFeedsManager& m, ImportReport& report) {
  for (const auto& [id, record] : CModelWriter(m).Storage().IdIndex()) {
    if (record->m_id != id) {
      record->m_id = id;
      ++report.renumberedRecords;
    }
  }
  // Each record stays in the first list that names it: the root list, then
  // the records' own lists in identifier order.
  std::unordered_set<ObjectId> claimed;
  auto keep = [&](IdList& list, auto&& isKind) {
    IdList kept;
    kept.reserve(list.size());
    for (ObjectId id : list) {
      if (!isKind(id)) {
        ++report.danglingEntries;
      } else if (!claimed.insert(id).second) {
        ++report.repeatedEntries;
      } else {
        kept.push_back(id);
      }
    }
    list.swap(kept);
  };
  auto isGroup = [&](ObjectId id) { return m.GetGroup(id) != nullptr; };
  auto isSource = [&](ObjectId id) { return m.GetFeedSource(id) != nullptr; };
  auto isArticle = [&](ObjectId id) { return m.GetFeed(id) != nullptr; };
  keep(CModelWriter(m).RootGroups(), isGroup);
  for (const auto& [id, record] : CModelWriter(m).Storage().IdIndex()) {
    if (CGroup* g = CModelWriter(m).Group(id)) {
      keep(g->m_childGroups, isGroup);
      keep(g->m_sources, isSource);
    } else if (CFeedSource* s = CModelWriter(m).Source(id)) {
      keep(s->m_articles, isArticle);
    }
  }
  // Groups listed only inside each other: each ring is opened at its lowest
  // identifier, which is then listed nowhere.
  while (OpenOneRing(m)) ++report.brokenRings;
  m.RebuildIndexes();
}

bool ImportDataFile(const std::string& dataFile, const std::string& libraryPath, ImportReport& report,
                    std::string* error, const uint32_t* seed, const ImportUpdateStateHook* updateStates,
                    const ImportProgress* progress) {
  report = ImportReport{};
  LoadOutcome& out = report.load;
  const int fd = ::open(dataFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error != nullptr) *error = "cannot read " + dataFile + ": " + std::strerror(fd < 0 ? errno : EINVAL);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  CFeedsManager m;
  m.SeedRandom(seed != nullptr ? *seed : static_cast<uint32_t>(::time(nullptr)) ^ static_cast<uint32_t>(::getpid()));
  try {
    CSqliteDb db;
    db.Open(libraryPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    // The file is new and takes the library's name only once whole, so it
    // needs no journal; the caller flushes it.
    db.Exec(
        "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA secure_delete = OFF; "
        "PRAGMA cache_size = -65536;");
    db.Exec("BEGIN EXCLUSIVE");
    MigrateLibrary(db, 0);
    SetMeta(db, "search_words", kSearchWordsVersion);
    {
      CFileReader reader(fd, static_cast<uint64_t>(st.st_size));
      CArchive ar(reader);
      ar.SetShareTexts(false);
      out.status = ReadRecords(ar, m, db, out.detail, progress);
    }
    if (st.st_size == 0) {
      out.fileEmpty = true;
      out.detail.clear();
    } else if (out.status != LoadStatus::Ok) {
      if (out.status == LoadStatus::BadSchema) out.message = kNewerVersionMessage;
      if (out.status == LoadStatus::BadClass) out.message = kCorruptFileMessage;
      DropDanglingIds(m);
    }
    BreakGroupCycles(m);
    m.FixUpAfterLoad();
    CLibrary::RepairForLibrary(m, report);
    WriteRows(db, m);
    // One segment for the whole index: the searches that follow read one.
    db.Exec("INSERT INTO search(search) VALUES('optimize')");
    report.sharedTexts = static_cast<size_t>(db.QueryInt("SELECT count(*) FROM texts WHERE refs > 1"));
    for (const auto& [id, record] : CModelWriter(m).Storage().IdIndex()) {
      switch (record->Type()) {
        case RecordType::Group: ++report.groups; break;
        case RecordType::FeedSource: ++report.sources; break;
        case RecordType::Feed: ++report.articles; break;
      }
    }
    if (updateStates != nullptr && *updateStates) {
      ImportedUpdateStates carried = (*updateStates)(report);
      for (const LibraryUpdateState& st : carried.states) {
        if (library::PutUpdateState(db, st)) ++report.updateStates;
      }
      report.validatorsDropped = std::move(carried.validatorsDropped);
    }
    db.Exec("COMMIT");
    db.Close();
  } catch (const CSqliteError& e) {
    ::close(fd);
    if (error != nullptr) *error = e.what();
    return false;
  } catch (const std::bad_alloc&) {
    ::close(fd);
    if (error != nullptr) *error = "out of memory";
    return false;
  }
  ::close(fd);
  return true;
}

namespace {

// The library's texts, counted as the export reads them.
class CCountingStore final : public IArticleStore {
 public:
  CCountingStore(IArticleStore& store, const ImportProgress& progress, uint64_t total)
      : m_store(store), m_progress(progress), m_total(total) {}
  bool ReadArticleTexts(ObjectId article, CArticleTexts& out) override {
    if (++m_done % 256 == 0) m_progress(m_done, m_total);
    return m_store.ReadArticleTexts(article, out);
  }
  bool MatchArticles(const std::vector<std::u16string>& words, IdList& out) override {
    return m_store.MatchArticles(words, out);
  }

 private:
  IArticleStore& m_store;
  const ImportProgress& m_progress;
  uint64_t m_total;
  uint64_t m_done = 0;
};

}  // namespace

SaveResult CLibrary::ExportDataFile(const std::string& path, const ImportProgress* progress) {
  SaveResult result;
  if (!m_read.IsOpen()) {
    result.error = "no library is open";
    return result;
  }
  try {
    // One moment of the library for the rows and every text.
    CSqliteTransaction txn(m_read, false);
    CFeedsManager model;
    const LibraryLoadResult load = Load(model, LoadScope::Everything);
    if (!load.ok) {
      result.error = load.error;
      return result;
    }
    std::optional<CCountingStore> counting;
    if (progress != nullptr && *progress) {
      counting.emplace(*this, *progress, model.StoredTextCount());
      model.SetArticleStore(&*counting);
    }
    result = SaveDataFile(model, path);
    model.SetArticleStore(nullptr);
    txn.Commit();
  } catch (const CSqliteError& e) {
    result.ok = false;
    result.error = e.what();
  }
  return result;
}

}  // namespace qb
