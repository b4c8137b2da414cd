#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QTreeWidgetItem>
#include <QUrl>
#include <QtEndian>
#include <vector>

#include "app/Commands.h"
#include "app/MainFrame.h"
#include "app/RSSReaderDoc.h"
#include "app/SettingsExport.h"
#include "app/SettingsManager.h"
#include "feeds/Markup.h"
#include "feeds/TextDecoding.h"
#include "feeds/XMLParser.h"
#include "model/TreeOrder.h"
#include "views/Desktop.h"
#include "views/Shell.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {

namespace {

// "QBI1": a hand-over message of this program, first version.
constexpr quint32 kMagic = 0x51424931;
// A command line is a few hundred bytes; anything much larger is not ours.
constexpr quint32 kMaxMessageBytes = 1 << 20;
constexpr char kConfirmation = 'Y';

// A scheme of two characters or more followed by a colon.
const QRegularExpression& SchemePattern() {
  static const QRegularExpression pattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+):"));
  return pattern;
}

QString SchemeOf(const QString& argument) {
  const QRegularExpressionMatch match = SchemePattern().match(argument);
  return match.hasMatch() ? match.captured(1).toLower() : QString();
}

bool IsWebAddress(const QString& address) {
  const QUrl url(address, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
         !url.host().isEmpty();
}

StartRequest LocalFile(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (absolute.endsWith(QLatin1String(".reg"), Qt::CaseInsensitive))
    return {StartRequest::Kind::ImportSettings, absolute};
  return {StartRequest::Kind::FeedDocument, absolute};
}

bool NameIs(std::u16string_view name, std::u16string_view local) {
  if (name == local) return true;
  // A namespace prefix ("atom:link", "atom10:link").
  return name.size() > local.size() + 1 && name.substr(name.size() - local.size()) == local &&
         name[name.size() - local.size() - 1] == u':';
}

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

StartRequest ClassifyArgument(const QString& argument) {
  if (argument.isEmpty()) return {StartRequest::Kind::Unusable, argument};
  const QString scheme = SchemeOf(argument);
  if (scheme.isEmpty()) return LocalFile(argument);
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
    if (IsWebAddress(argument)) return {StartRequest::Kind::AddFeed, argument};
    return {StartRequest::Kind::Unusable, argument};
  }
  if (scheme == QLatin1String("feed")) {
    const QString rest = argument.mid(5);
    QString address;
    const QString inner = SchemeOf(rest);
    if (inner == QLatin1String("http") || inner == QLatin1String("https")) {
      address = rest;
    } else if (rest.startsWith(QLatin1String("//"))) {
      address = QStringLiteral("http:") + rest;
    } else if (!rest.isEmpty() && inner.isEmpty()) {
      address = QStringLiteral("http://") + rest;
    }
    if (IsWebAddress(address)) return {StartRequest::Kind::AddFeed, address};
    return {StartRequest::Kind::Unusable, argument};
  }
  if (scheme == QLatin1String("file")) {
    const QUrl url(argument);
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) return LocalFile(url.toLocalFile());
  }
  return {StartRequest::Kind::Unusable, argument};
}

QStringList ResolveArguments(const QStringList& arguments, const QString& workingDirectory) {
  QStringList resolved;
  const QDir base(workingDirectory);
  for (const QString& argument : arguments) {
    if (argument.isEmpty() || !SchemeOf(argument).isEmpty()) {
      resolved << argument;
    } else {
      resolved << QDir::cleanPath(base.absoluteFilePath(argument));
    }
  }
  return resolved;
}

QString FeedSelfAddress(const QByteArray& document) {
  const std::u16string text =
      DecodeFeedBytes(std::string_view(document.constData(), static_cast<size_t>(document.size())));
  CXMLParser parser;
  // Depth first without recursion: the tree may be as deep as the text is long.
  std::vector<const CXMLNode*> pending{&parser.Parse(text)};
  while (!pending.empty()) {
    const CXMLNode* node = pending.back();
    pending.pop_back();
    const bool feedLevel = NameIs(node->Name(), u"feed") || NameIs(node->Name(), u"channel");
    for (const CXMLNode* child : node->Children()) {
      if (feedLevel && NameIs(child->Name(), u"link") && child->GetAttribute(u"rel") == u"self") {
        const QString address = ToQString(DecodeEntities(child->GetAttribute(u"href"))).trimmed();
        if (IsWebAddress(address)) return address;
      }
      pending.push_back(child);
    }
  }
  return {};
}

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
  emit commandLineReceived(arguments);
}

namespace {

void AddFeedFromDesktop(CMainFrame& frame, const QString& address) {
  frame.ShowMainWindow();
  // The tree's selection stays as it is: the user may be reading.
  const ObjectId group = GroupForNewFeed(frame.Model(), frame.SourceTree()->SelectedNode());
  if (group != 0) frame.Commands().AddFeed(group, address);
}

}  // namespace

void RunStartRequests(CMainFrame& frame, CRSSReaderDoc& doc, const QStringList& arguments,
                      bool atStart) {
  for (const QString& argument : arguments) {
    const StartRequest request = ClassifyArgument(argument);
    const QString name = QFileInfo(request.value).fileName();
    switch (request.kind) {
      case StartRequest::Kind::ImportSettings:
        // At start-up the file was imported before the settings were read.
        if (!atStart && ImportSettingsFile(frame.Desktop(), request.value)) {
          // Used at once, and not overwritten at exit by the old values.
          doc.m_settingsManager.LoadSave(true);
          frame.RestorePlacement();
        }
        break;
      case StartRequest::Kind::AddFeed:
        AddFeedFromDesktop(frame, request.value);
        break;
      case StartRequest::Kind::FeedDocument: {
        QFile file(request.value);
        if (!file.open(QIODevice::ReadOnly)) {
          frame.Desktop().ShowMessage(&frame, MsgIcon::Warning,
                         QStringLiteral("The file '%1' could not be read.").arg(name));
          break;
        }
        // The address is near the top; a huge file is not read whole.
        const QString address = FeedSelfAddress(file.read(4 << 20));
        if (address.isEmpty()) {
          frame.Desktop().ShowMessage(&frame, MsgIcon::Warning,
                         QStringLiteral("'%1' does not say where the feed is published. Add the "
                                        "feed by its web address instead.")
                             .arg(name));
          break;
        }
        AddFeedFromDesktop(frame, address);
        break;
      }
      case StartRequest::Kind::Unusable:
        frame.Desktop().ShowMessage(&frame, MsgIcon::Warning,
                       QStringLiteral("Quillbend cannot open '%1'.").arg(request.value));
        break;
    }
  }
}

bool ImportSettingsFile(IDesktop& desktop, const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const auto answer = desktop.ShowMessage(
      nullptr, MsgIcon::Question,
      QStringLiteral("Are you sure you want to import the settings in '%1' into Quillbend?").arg(name),
      QMessageBox::Yes | QMessageBox::No);
  if (answer != QMessageBox::Yes) return false;
  if (ImportSettings(path)) {
    desktop.ShowMessage(nullptr, MsgIcon::Information,
                   QStringLiteral("The settings in '%1' have been imported.").arg(name));
    return true;
  }
  desktop.ShowMessage(nullptr, MsgIcon::Warning,
                 QStringLiteral("'%1' could not be read as a Quillbend settings file.").arg(name));
  return false;
}

}  // namespace qb
