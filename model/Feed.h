#pragma once

#include <cstdint>
#include <string>

#include "base/DateTime.h"
#include "base/SharedText.h"
#include "model/Fields.h"
#include "model/ModelChange.h"
#include "model/RSSObject.h"

namespace qb {

// What an article stores of itself, beside its long texts
// (model/Fields.h).
struct ArticleFields {
  std::u16string m_channel;      // title of the channel that carried it
  std::u16string m_title;        // "<Untitled>" when the feed gave none
  std::u16string m_link;
  std::u16string m_dateText;     // the publication date as written
  std::u16string m_key;          // guid, Atom id, or title + "@" + link
  CDateTime m_date;              // parsed from m_dateText; invalid when unrecognised
  bool m_read = false;
  // Kept by the library only; the classic data file has no field for them.
  bool m_starred = false;
  int64_t m_arrived = 0;         // when it came (seconds since 1970); 0: not known
  bool operator==(const ArticleFields&) const = default;
};

// One article taken from a feed.
class CFeed : public RSSObject, public ArticleFields {
 public:
  static constexpr RecordType kType = RecordType::Feed;
  RecordType Type() const override { return kType; }
  void Serialize(CArchive& ar) override;

  std::u16string m_description;  // HTML as the feed delivered it
  // The texts live in the library and these two fields are empty: read
  // them through CFeedsManager::ArticleTexts. Not saved.
  bool m_textsStored = false;
  SharedText m_sourceText;       // its item's markup (older files: the whole document)
  // The source whose list names this article, as the manager's operations
  // left it (0: none known). A hint the manager checks before it trusts
  // it; not saved.
  ObjectId m_source = 0;
};

// An article's fields in the order of the classic record. The long texts
// have no column: the library keeps them apart, read only when shown.
inline constexpr auto kArticleFieldTable = std::make_tuple(
    Field(&CFeed::m_id, nullptr, nullptr, 1, 0),
    Field(&ArticleFields::m_channel, "channel", "channel", 1, 0),
    Field(&ArticleFields::m_title, "title", "title", 1, 0),
    Field(&ArticleFields::m_link, "link", "link", 1, 0),
    Field(&CFeed::m_description, nullptr, "description", 1, 0),
    Field(&ArticleFields::m_dateText, "date_text", "dateText", 1, 0),
    Field(&ArticleFields::m_key, "key", "key", 1, 0),
    Field(&ArticleFields::m_date, "date", "date", 1, 0),
    Field(&ArticleFields::m_read, "read", "read", 2, kArticleRead),
    Field(&CFeed::m_sourceText, nullptr, "sourceText", 3, 0),
    Field(&ArticleFields::m_starred, "starred", nullptr, 0, kArticleStarred),
    Field(&ArticleFields::m_arrived, "arrived", nullptr, 0, 0));
static_assert(CheckFieldTable<ArticleFields, decltype(kArticleFieldTable)>(), "an article field has no table entry");
inline constexpr uint8_t kArticleRecordVersion = 3;

}  // namespace qb
