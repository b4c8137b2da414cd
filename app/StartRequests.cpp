#include "app/StartRequests.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <vector>

#include "app/Commands.h"
#include "app/MainFrame.h"
#include "app/RSSReaderDoc.h"
#include "app/SettingsExport.h"
#include "app/SettingsManager.h"
#include "formats/Markup.h"
#include "formats/TextDecoding.h"
#include "formats/XMLParser.h"
#include "model/TreeOrder.h"
#include "views/Desktop.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {

namespace {

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

namespace {

void AddFeedFromDesktop(CMainFrame& frame, const QString& address) {
  frame.ShowMainWindow();
  // The tree's selection stays as it is: the user may be reading.
  const ObjectId group = GroupForNewFeed(frame.Model(), frame.SourceTree()->SelectedNode());
  if (group != 0) frame.Commands().AddFeed(group, address, CCommands::AddFeedOrigin::Desktop);
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
