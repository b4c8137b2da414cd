// Import and export of the feed list as OPML, the format every feed reader
// reads and writes. Uses Qt's XML stream classes (QtCore only), so the
// command-line tool shares it with the window.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "model/RSSObject.h"

namespace qb {

class CFeedsManager;

// OPML 2.0: one outline per group (text and title = its name) holding its
// sub-groups and sources in the tree's display order; one
// <outline type="rss" text title xmlUrl/> per source.
QByteArray ExportOpml(const CFeedsManager& manager, const QDateTime& created);

struct OpmlImportResult {
  bool ok = false;
  QString error;       // what is wrong with the file, when !ok
  qint64 errorLine = 0;
  int feedsAdded = 0;
  int groupsAdded = 0;
  int feedsSkipped = 0;  // URL already present
  IdList newSources;     // in the order added, for the update that follows
};

// Reads the whole file first; a file that is not XML, or not OPML, changes
// nothing. Outlines with an xmlUrl (at any depth) are feeds; the others are
// groups named by their title, else their text. Top-level groups become root
// groups and top-level feeds join the first root group; a group of the same
// name at the same place is merged into. A feed whose URL exists anywhere is
// skipped. New sources take the outline's title, else its text, else the URL,
// and keep auto-name set unless the outline has a title.
OpmlImportResult ImportOpml(CFeedsManager& manager, const QByteArray& data);

// The message shown after an import.
QString OpmlImportSummary(const OpmlImportResult& result);

// The warning for a file that could not be read.
QString OpmlImportWarning(const QString& fileName, const OpmlImportResult& result);

}  // namespace qb
