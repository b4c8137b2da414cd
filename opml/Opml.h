// Import and export of the feed list as OPML, the format every feed reader
// reads and writes. Uses Qt's XML stream classes (QtCore only), so the
// command-line tool shares it with the window.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

// OPML 2.0: one outline per group (text and title = its name as the tree
// shows it) holding its sub-groups and sources in the tree's display order;
// one <outline type="rss" text title xmlUrl [htmlUrl]/> per source that has
// a URL (sources without one, such as the welcome page, are left out), with
// the site's address an import gave it. Text that
// XML cannot carry (a lone surrogate, a control character) is written as
// U+FFFD, so the document is always well formed.
QByteArray ExportOpml(const CFeedsManager& manager, const QDateTime& created);

struct OpmlExportResult {
  bool ok = false;
  QString error;  // what went wrong, when !ok
  int groups = 0;
  int feeds = 0;
};

// The same, with `check` saying whether the document reads back as the
// outlines written.
QByteArray ExportOpml(const CFeedsManager& manager, const QDateTime& created, OpmlExportResult& check);

// Writes ExportOpml's document to `path`, replacing the file only once the
// new one is complete, after checking that the document reads back as the
// outlines written; then reads the file back and compares it with what was
// written. Any failure is reported in the result, never as a success.
OpmlExportResult ExportOpmlFile(const CFeedsManager& manager, const QString& path,
                                const QDateTime& created);

struct OpmlImportResult {
  bool ok = false;
  QString error;       // what is wrong with the file, when !ok
  qint64 errorLine = 0;
  int feedsAdded = 0;
  int groupsAdded = 0;
  int feedsSkipped = 0;  // URL already present
  IdList newSources;     // in the order added, for the update that follows
};

// Called while an import adds outlines: `done` of `total` outlines. Called
// about a hundred times at most, and always once with done == total.
using OpmlProgress = std::function<void(int done, int total)>;

// Reads the whole file first; a file that is not XML, or not OPML, changes
// nothing. Outlines with an xmlUrl (at any depth) are feeds; the others are
// groups named by their title, else their text. A feed's htmlUrl (a web
// address) is kept with the new source for the next export.
//
// The outlines at the top of the body go into `targetGroup`: its child
// groups, or its sources. With `targetGroup` 0 they go to the root level:
// groups become root groups and feeds join the first root group in display
// order ("All Sources" is created when there is none). A group of the same
// name at the same place is merged into. A file this program exported (its
// head's title is the one ExportOpml writes) holds the whole tree and always
// goes to the root level, so that it imports as the tree it was written
// from. A `targetGroup` that names no group changes nothing and is reported
// as an error.
//
// A feed whose URL exists anywhere (or earlier in the file) is skipped. New
// sources take the name the file gives (the title, else the text) and keep
// it; only a source without a name, or whose name is its URL (as exported
// before its first update), is titled with its URL and named by its feed at
// the first update (auto-name). A name is stored so that the tree shows
// exactly the text of the file.
//
// Linear in the size of the file and the model.
OpmlImportResult ImportOpml(CFeedsManager& manager, const QByteArray& data, ObjectId targetGroup = 0,
                            const OpmlProgress& progress = {});

// The message shown after an import.
QString OpmlImportSummary(const OpmlImportResult& result);

// The warning for a file that could not be read.
QString OpmlImportWarning(const QString& fileName, const OpmlImportResult& result);

}  // namespace qb
