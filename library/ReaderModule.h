// The reader view's results as a module of the library
// (model/LibraryModule.h): the table `reader`, one row per article whose
// page was read, with the readable part the extraction found, the address
// it was found at and when; and `reader_search`, the words of that text
// (model/SearchText.h), which the library's search reads beside its own
// index, so that a word of the full text finds the article.
//
// A row goes with its article (a foreign key ON DELETE CASCADE, a trigger
// takes its words out of the index), whoever removes the article: a
// delete, retention, another process. Results are read when shown, never
// loaded with the model; one not yet written is answered from memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "library/LibraryModule.h"

namespace qb {

// What the reader view found on an article's page.
struct ReaderText {
  ObjectId article = 0;
  std::u16string address;  // the page's, after redirects
  int64_t fetched = 0;     // seconds since 1970
  std::u16string title;
  std::u16string byline;
  std::u16string siteName;
  std::u16string excerpt;
  std::u16string language;
  std::u16string direction;  // "ltr", "rtl" or empty
  std::u16string content;    // HTML; its links and pictures absolute
  bool operator==(const ReaderText&) const = default;
};

// Where the window keeps results (the library; a classic data file keeps
// none).
class IReaderStore {
 public:
  // The stored result for the article; false when there is none.
  virtual bool FindReaderText(ObjectId article, ReaderText& out) = 0;
  // Keeps a result (replacing one before it). `articleTitle` and `channel`
  // join its words in the index, so that a query naming both the feed and
  // the full text finds it.
  virtual void KeepReaderText(ReaderText text, std::u16string articleTitle, std::u16string channel) = 0;

 protected:
  ~IReaderStore() = default;
};

class CReaderModule final : public ILibraryModule {
 public:
  std::string_view Name() const override { return "reader"; }
  int Version() const override { return 1; }
  void Migrate(CSqliteDb& db, int from) const override;
  const char* SearchTable() const override { return "reader_search"; }

  // Written with the next batch; an article gone by then takes nothing.
  void Keep(ReaderText text, std::u16string articleTitle, std::u16string channel);
  // The result kept or stored for the article, read from `library`'s
  // reading connection. False when there is none or it cannot be read.
  bool Find(CLibrary& library, ObjectId article, ReaderText& out) const;

  bool HasWork() const override { return !m_pending.empty(); }
  Work TakeWork() override;
  void WorkDone(bool committed) override;
  size_t PendingCount() const override { return m_pending.size() + m_inFlight.size(); }
  // Results are read when shown: nothing is held that another process
  // could make stale.
  void ChangedElsewhere(CLibrary& library, const IdList& ids, bool everything) override;

 private:
  struct Kept {
    ReaderText text;
    std::u16string articleTitle, channel;
  };
  using Results = std::map<ObjectId, Kept>;
  Results m_pending, m_inFlight;
};

}  // namespace qb
