// One running program per user. Two windows on one data file would each save
// their own model and silently discard the other's changes, so the first
// start listens on a local socket in the user's private runtime folder, and
// every later start hands its command line over to it and ends.
//
// A socket left behind by a program that crashed is recognised because
// nobody answers on it; it is replaced. A lock file beside it keeps two
// simultaneous starts from both deciding they are the first.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

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

class CSingleInstance : public QObject {
  Q_OBJECT
 public:
  enum class Claim {
    Primary,     // this process is the one instance (listening, if it could)
    HandedOver,  // the running program took the command line; end now
    NoAnswer,    // a program listens but did not take it in time; do not start
  };

  // `serverPath` is the socket's path; empty runs without the check.
  explicit CSingleInstance(QString serverPath, QObject* parent = nullptr);
  ~CSingleInstance() override;
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // "instance-<uid>" in the private runtime folder; empty when that folder
  // cannot be had safely.
  static QString DefaultServerPath();

  // Hands the arguments to the running program and waits up to `timeoutMs`
  // for it to confirm; when nothing listens, takes the socket instead.
  Claim ClaimOrHandOver(const QStringList& arguments, int timeoutMs = 5000);

  bool IsListening() const;
  const QString& ServerPath() const { return m_serverPath; }

 signals:
  // A later start handed over its (resolved) arguments; empty for none.
  void commandLineReceived(const QStringList& arguments);

 private:
  Claim HandOver(QLocalSocket& socket, const QStringList& arguments, int timeoutMs);
  void Listen();
  void OnNewConnection();
  void ReadMessage(QLocalSocket* socket);

  QString m_serverPath;
  QLocalServer* m_server = nullptr;
};

}  // namespace qb
