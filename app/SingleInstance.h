// One running program per user. Two windows on one data file would each save
// their own model and silently discard the other's changes, so the first
// start listens on a local socket in the user's private runtime folder, and
// every later start hands its command line over to it and ends.
//
// A socket left behind by a program that crashed is recognised because
// nobody answers on it; it is replaced. A lock file beside it keeps two
// simultaneous starts from both deciding they are the first.
//
// A message is read whole and confirmed inside the socket's handler, but
// handed on only from the event loop once that handler has returned: what
// it asks for may run dialogs with event loops of their own, during which
// the socket disconnects and is freed.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>

class QLocalServer;
class QLocalSocket;

namespace qb {

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
  // Emitted from the event loop, one command line at a time in the order
  // received: the next waits until the handler of this one has returned.
  void commandLineReceived(const QStringList& arguments);

 private:
  Claim HandOver(QLocalSocket& socket, const QStringList& arguments, int timeoutMs);
  void Listen();
  void OnNewConnection();
  void ReadMessage(QLocalSocket* socket);
  void DeliverReceived();

  QString m_serverPath;
  QLocalServer* m_server = nullptr;
  std::deque<QStringList> m_received;  // confirmed, not yet handed on
  bool m_deliveryPosted = false;
  bool m_delivering = false;
};

}  // namespace qb
