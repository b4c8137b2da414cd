#pragma once

#include <string>

#include "model/DateTime.h"
#include "model/RSSObject.h"
#include "model/SharedText.h"

namespace qb {

// One article taken from a feed.
class CFeed : public RSSObject {
 public:
  static constexpr RecordType kType = RecordType::Feed;
  RecordType Type() const override { return kType; }
  void Serialize(CArchive& ar) override;

  std::u16string m_channel;      // title of the channel that carried it
  std::u16string m_title;        // "<Untitled>" when the feed gave none
  std::u16string m_link;
  std::u16string m_description;  // HTML as the feed delivered it
  std::u16string m_dateText;     // the publication date as written
  std::u16string m_key;          // guid, Atom id, or title + "@" + link
  CDateTime m_date;              // parsed from m_dateText; invalid when unrecognised
  bool m_read = false;
  // The texts live in the library and these two fields are empty: read
  // them through CFeedsManager::ArticleTexts. Not saved.
  bool m_textsStored = false;
  SharedText m_sourceText;       // its item's markup (older files: the whole document)
  // The source whose list names this article, as the manager's operations
  // left it (0: none known). A hint the manager checks before it trusts
  // it; not saved.
  ObjectId m_source = 0;
};

}  // namespace qb
