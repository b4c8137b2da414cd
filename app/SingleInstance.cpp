#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMetaObject>
#include <QVariant>
#include <QtEndian>

#include "views/Shell.h"

namespace qb {

namespace {

// "QBI1": a hand-over message of this program, first version.
constexpr quint32 kMagic = 0x51424931;
// A command line is a few hundred bytes; anything much larger is not ours.
constexpr quint32 kMaxMessageBytes = 1 << 20;
constexpr char kConfirmation = 'Y';

QByteArray Frame(const QStringList& arguments) {
  QByteArray payload;
  {
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << arguments;
  }
  QByteArray frame;
  QDataStream out(&frame, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  out << static_cast<quint32>(payload.size());
  frame.append(payload);
  return frame;
}

}  // namespace

CSingleInstance::CSingleInstance(QString serverPath, QObject* parent)
    : QObject(parent), m_serverPath(std::move(serverPath)) {}

// The server's destructor removes the socket file.
CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::DefaultServerPath() {
  const QString folder = PrivateTempFolder();
  if (folder.isEmpty()) return {};
  return folder + QStringLiteral("/instance-") + QString::number(getuid());
}

bool CSingleInstance::IsListening() const { return m_server != nullptr && m_server->isListening(); }

CSingleInstance::Claim CSingleInstance::ClaimOrHandOver(const QStringList& arguments, int timeoutMs) {
  if (m_serverPath.isEmpty()) return Claim::Primary;
  // Held until this start has either handed over or is listening. A lock
  // left by a crashed start names a process that is gone and is taken over.
  QLockFile lock(m_serverPath + QStringLiteral(".lock"));
  lock.tryLock(timeoutMs);

  QLocalSocket socket;
  socket.connectToServer(m_serverPath);
  if (socket.waitForConnected(timeoutMs)) return HandOver(socket, arguments, timeoutMs);
  // No socket, or one that nobody listens on any more (left by a crash).
  // A server too busy even to accept is still a running program.
  if (socket.error() == QLocalSocket::SocketTimeoutError) return Claim::NoAnswer;
  Listen();
  return Claim::Primary;
}

CSingleInstance::Claim CSingleInstance::HandOver(QLocalSocket& socket, const QStringList& arguments,
                                                 int timeoutMs) {
  socket.write(Frame(arguments));
  if (!socket.waitForBytesWritten(timeoutMs)) return Claim::NoAnswer;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(timeoutMs)) return Claim::NoAnswer;
  }
  char answer = 0;
  if (!socket.getChar(&answer) || answer != kConfirmation) return Claim::NoAnswer;
  socket.disconnectFromServer();
  return Claim::HandedOver;
}

void CSingleInstance::Listen() {
  QLocalServer::removeServer(m_serverPath);
  m_server = new QLocalServer(this);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!m_server->listen(m_serverPath)) {
    // The program still runs; later starts will not find it and open their
    // own window, as before there was a check.
    qWarning("quillbend: cannot listen on %s: %s", qPrintable(m_serverPath),
             qPrintable(m_server->errorString()));
    delete m_server;
    m_server = nullptr;
    return;
  }
  connect(m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
}

void CSingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadMessage(socket); });
    ReadMessage(socket);
  }
}

void CSingleInstance::ReadMessage(QLocalSocket* socket) {
  if (socket->property("qbDone").toBool() || socket->bytesAvailable() < 4) return;
  const QByteArray head = socket->peek(4);
  const quint32 size = qFromBigEndian<quint32>(head.constData());
  if (size > kMaxMessageBytes) {
    socket->abort();
    return;
  }
  if (socket->bytesAvailable() < 4 + static_cast<qint64>(size)) return;
  socket->skip(4);
  const QByteArray payload = socket->read(size);

  QDataStream message(payload);
  message.setVersion(QDataStream::Qt_6_0);
  quint32 magic = 0;
  QStringList arguments;
  message >> magic >> arguments;
  if (message.status() != QDataStream::Ok || magic != kMagic) {
    socket->abort();
    return;
  }
  socket->setProperty("qbDone", true);
  socket->putChar(kConfirmation);
  socket->flush();
  m_received.push_back(std::move(arguments));
  if (!m_deliveryPosted) {
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &CSingleInstance::DeliverReceived, Qt::QueuedConnection);
  }
}

void CSingleInstance::DeliverReceived() {
  m_deliveryPosted = false;
  // A handler's own event loop may bring this here again: the loop below
  // hands on what comes meanwhile once the handler has returned.
  if (m_delivering) return;
  m_delivering = true;
  while (!m_received.empty()) {
    const QStringList arguments = std::move(m_received.front());
    m_received.pop_front();
    emit commandLineReceived(arguments);
  }
  m_delivering = false;
}

}  // namespace qb
