// One write to the library: copies of the rows an owner's model changed,
// taken on the owner's thread (CLibraryLink::Flush) and written in one
// transaction on another (CLibrary::Write). It holds values only, never
// records, so the model may go on changing while it is written.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "model/ArticleStore.h"
#include "model/Feed.h"
#include "model/FeedSource.h"
#include "model/Group.h"
#include "model/RSSObject.h"
#include "model/UpdateStateFields.h"

namespace qb {

class CModuleWrite;

// The update engine's state of one source as the library stores it (the
// engine's own is update/SourceUpdateState.h): stored only while the source
// has this address, and written in the batch that carries the articles the
// fetch it describes applied, so validators never outlive what they
// validated.
struct LibraryUpdateState : UpdateStateFields {
  ObjectId source = 0;
  bool operator==(const LibraryUpdateState&) const = default;
};

// What a row of the batch writes.
inline constexpr uint32_t kRowInsert = 1u << 0;  // a new row, every column
inline constexpr uint32_t kRowPlace = 1u << 1;   // its list and position
inline constexpr uint32_t kRowFields = 1u << 2;  // the fields in `fields`

struct CLibraryBatch {
  // Where a row stands: its list and its place in it. `listed` false: no
  // list names it (parent NULL).
  struct Place {
    ObjectId parent = 0;  // group (0 with `listed`: the root level), or source
    bool listed = false;
    int64_t position = 0;
  };

  // The values of each row are the record's own (model/Fields.h).
  struct Group {
    ObjectId id = 0;
    uint32_t write = 0;
    uint32_t fields = 0;  // kGroup*
    Place place;
    GroupFields values;
  };
  struct Source {
    ObjectId id = 0;
    uint32_t write = 0;
    uint32_t fields = 0;  // kSource*
    Place place;
    SourceFields values;
  };
  struct Article {
    ObjectId id = 0;
    uint32_t write = 0;
    uint32_t fields = 0;  // kArticle*
    Place place;
    ArticleFields values;
    CArticleTexts texts;  // kRowInsert only
  };
  struct HistoryRow {
    std::u16string key;
    HistoryEntry entry;
    int64_t seq = 0;  // ties of first-seen time keep this order
  };
  struct History {
    ObjectId source = 0;
    bool cleared = false;  // every stored key goes first
    std::vector<HistoryRow> put;
    std::vector<std::u16string> drop;
  };

  std::vector<Group> groups;
  std::vector<Source> sources;
  std::vector<Article> articles;
  std::vector<History> histories;
  // Destroyed with everything the library holds below them.
  std::vector<ObjectId> removedGroups, removedSources, removedArticles;
  // Identifiers destroyed and made anew since the last write: the old rows
  // go before the new ones are inserted.
  std::vector<ObjectId> replaced;
  std::optional<int32_t> retentionDays;
  // The modules' work of the same turn (library/LibraryModule.h), by each
  // module's kind in the change log, done after the rows above.
  std::vector<std::pair<int64_t, std::function<void(CModuleWrite&)>>> moduleWork;

  bool empty() const {
    return groups.empty() && sources.empty() && articles.empty() && histories.empty() && removedGroups.empty() &&
           removedSources.empty() && removedArticles.empty() && replaced.empty() && !retentionDays &&
           moduleWork.empty();
  }
};

}  // namespace qb
