// The one way the window updates sources, behind one small interface: the
// commands drive it (app/UpdateService.h is the program's; tests pass
// doubles).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "model/RSSObject.h"
#include "net/Discovery.h"
#include "net/ReaderPage.h"
#include "update/UpdateEngine.h"

namespace qb {

class CFeedsManager;

// The one way the window updates sources: "Update all feeds", the automatic
// update, "Update this feed" and the first fetch of a new source all come
// here. Every call returns at once: the documents are fetched in the
// background, and the model is changed only on the window's thread, from
// its event loop, one source at a time in tree order. How each source and
// each pass went is told to the listener.
class IFeedUpdater {
 public:
  struct Listener {
    // A source has been applied (also when its fetch failed); the model
    // may have changed.
    std::function<void(const SourceReport& report)> sourceApplied;
    // The pass is over; the updater is idle again.
    std::function<void(const PassReport& report)> passFinished;
    // Another process stored the update state of these sources (a command's
    // fetch failed or succeeded); how they show may have changed.
    std::function<void(const IdList& sources)> statesStored;
    // The status line's text while a pass runs.
    std::function<void(const std::u16string& text)> status;
  };

  // The model every pass updates, set before anything else; another model
  // replaces it (a pass on the old one is abandoned), null detaches.
  virtual void Attach(CFeedsManager* model) = 0;
  virtual void SetListener(Listener listener) = 0;

  // Starts a pass over the due sources (every source when forced). While a
  // pass runs, a forced request adds the sources not yet in it and an
  // unforced one changes nothing. False when nothing was started or joined.
  virtual bool UpdateAll(bool force) = 0;
  // The same for the sources named.
  virtual bool UpdateSources(const IdList& sources, bool force) = 0;
  // The first update of a source just subscribed (forced), from the
  // document the add-feed search fetched from `fetchedUrl`, so that the
  // server is not asked twice; a document for another address is ignored.
  virtual bool UpdateSourceFrom(ObjectId source, const std::u16string& fetchedUrl,
                                const DownloadResult& document) = 0;
  // A search for the feed behind an address (the add-feed dialog), on the
  // same downloads as the updates, answering on the window's thread.
  virtual std::unique_ptr<CFeedDiscovery> NewDiscovery() = 0;
  // The fetch of an article's page for the reader view, on the same
  // downloads, answering on the window's thread.
  virtual std::unique_ptr<CArticlePageFetch> NewArticlePageFetch() = 0;
  virtual bool Busy() const = 0;
  // How the source's last update went in this run.
  virtual SourceUpdateState StateOf(ObjectId source) const = 0;
  // Sources were deleted: a pass must not wait for them.
  virtual void SourcesRemoved() = 0;
  // The source's articles changed outside a pass (its history was
  // cleared): its next fetch asks for the whole document.
  virtual void ForgetSource(ObjectId source) = 0;
  // Abandons a pass in flight (exit): transfers stop within a second, what
  // was applied stays.
  virtual void Cancel() = 0;
  // Validators, back-off and Retry-After of the sources, kept with the
  // data (in the library, or beside a classic data file); null when this
  // updater keeps none.
  virtual CValidatorStore* FetchState() = 0;

 protected:
  ~IFeedUpdater() = default;
};

}  // namespace qb
