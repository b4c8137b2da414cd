// What the command line asks of the program: a feed's address, a feed
// document, a settings file, or something unusable; and carrying that out in
// the running window. The first start reads its own arguments; a later one
// hands them over (CSingleInstance) and the running window carries them out.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qb {

class CMainFrame;
class CRSSReaderDoc;
class IDesktop;

// What one command-line argument asks of the program.
struct StartRequest {
  enum class Kind {
    AddFeed,         // value: the feed's web address
    ImportSettings,  // value: the path of a settings (.reg) file
    FeedDocument,    // value: the path of a local feed document
    Unusable,        // value: the argument as given
  };
  Kind kind = Kind::Unusable;
  QString value;

  friend bool operator==(const StartRequest&, const StartRequest&) = default;
};

// http: and https: addresses are taken as given. A feed: address maps to its
// web form: "feed:https://x" to "https://x", "feed://x" and "feed:x" to
// "http://x". A file: URL or a path names a local file: a settings file when
// it ends in ".reg" (any case), a feed document otherwise. Relative paths are
// taken from the current folder. Anything else (other schemes, an empty
// argument) is unusable.
StartRequest ClassifyArgument(const QString& argument);

// The arguments as another process can read them: relative paths become
// absolute against `workingDirectory`; addresses stay as they are.
QStringList ResolveArguments(const QStringList& arguments, const QString& workingDirectory);

// The address a feed document gives for itself: the href of a link with
// rel="self" in an Atom feed or an RSS channel, entities decoded. Empty when
// there is none or it is not an http(s) address.
QString FeedSelfAddress(const QByteArray& document);

// Asks whether to import the settings file and imports it, telling the user
// how it went. True when it was imported.
bool ImportSettingsFile(IDesktop& desktop, const QString& path);

// Carries out what the arguments ask of the running window, in their order:
// a settings file is imported and used at once (at start-up it was imported
// before the settings were read, so it is skipped); a feed address opens the
// add-feed dialog filled with it, in the selected group, the selected feed's
// group or the first group; a feed document does the same with the address
// it gives for itself. What cannot be used is reported and skipped.
void RunStartRequests(CMainFrame& frame, CRSSReaderDoc& doc, const QStringList& arguments,
                      bool atStart);

}  // namespace qb
