#include "app/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <algorithm>

#include "app/SettingsManager.h"
#include "model/FeedsManager.h"
#include "views/ViewText.h"

namespace qb {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");

// How many feeds the text names before it counts the rest.
constexpr size_t kNamedFeeds = 3;
// The limit of the tray's tip.
constexpr qsizetype kTipLength = 63;

QString Articles(int n) {
  return n == 1 ? QStringLiteral("1 new article") : QStringLiteral("%1 new articles").arg(n);
}

}  // namespace

QString NewArticlesText(std::vector<NamedNews> news) {
  std::erase_if(news, [](const NamedNews& n) { return n.newArticles <= 0; });
  if (news.empty()) return {};
  std::stable_sort(news.begin(), news.end(),
                   [](const NamedNews& a, const NamedNews& b) { return a.newArticles > b.newArticles; });
  int total = 0;
  for (const NamedNews& n : news) total += n.newArticles;
  if (news.size() == 1) return Articles(total) + QStringLiteral(" in ") + news.front().name;

  QStringList names;
  for (size_t i = 0; i < news.size() && i < kNamedFeeds; ++i) names << news[i].name;
  QString list;
  if (news.size() > kNamedFeeds) {
    list = names.join(QStringLiteral(", ")) +
           QStringLiteral(" and %1 more").arg(news.size() - kNamedFeeds);
  } else {
    const QString last = names.takeLast();
    list = names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
  }
  return Articles(total) + QStringLiteral(" in %1 feeds: ").arg(news.size()) + list;
}

QString TrayToolTip(bool newArticles, int unreadArticles) {
  QString tip = QString::fromLatin1(kApplicationName);
  const QString unread = unreadArticles == 1 ? QStringLiteral("1 unread article")
                                             : QStringLiteral("%1 unread articles").arg(unreadArticles);
  if (newArticles) {
    tip += QStringLiteral(": You have new feeds");
    if (unreadArticles > 0) tip += QStringLiteral(" (") + unread + u')';
  } else if (unreadArticles > 0) {
    tip += QStringLiteral(": ") + unread;
  }
  tip.truncate(kTipLength);
  return tip;
}

int CountUnreadArticles(const CFeedsManager& manager) { return manager.Counts(0).unread; }

ArticleCounts CountArticlesPerSource(const CFeedsManager& manager) {
  IdList sources;
  manager.CollectSources(0, sources);
  ArticleCounts counts;
  for (ObjectId id : sources) {
    if (const CFeedSource* source = manager.GetFeedSource(id)) counts[id] = source->m_articles.size();
  }
  return counts;
}

std::vector<SourceNews> NewsSince(const CFeedsManager& manager, const ArticleCounts& before) {
  IdList sources;
  manager.CollectSources(0, sources);
  std::vector<SourceNews> news;
  for (ObjectId id : sources) {
    const CFeedSource* source = manager.GetFeedSource(id);
    if (source == nullptr) continue;
    const auto it = before.find(id);
    const size_t was = it == before.end() ? 0 : it->second;
    if (source->m_articles.size() > was) {
      news.push_back({id, static_cast<int>(source->m_articles.size() - was)});
    }
  }
  return news;
}

CNotifier::CNotifier(const CFeedsManager& model, CRSSReaderSettingsManager& settings,
                     TrayIconGetter trayIcon, QObject* parent)
    : QObject(parent), m_model(model), m_settings(settings), m_trayIcon(std::move(trayIcon)) {}

CNotifier::~CNotifier() = default;

void CNotifier::UpdatePassFinished(const std::vector<SourceNews>& news) {
  if (!m_settings.Setting(setting::kNotifyNewArticles)) return;
  std::vector<NamedNews> named;
  for (const SourceNews& n : news) {
    const CFeedSource* source = m_model.GetFeedSource(n.source);
    if (source == nullptr || n.newArticles <= 0) continue;
    // A source that has not been named yet is known by its address.
    QString name = ToQString(DecodeForDisplay(source->m_title)).trimmed();
    if (name.isEmpty()) name = ToQString(source->m_url);
    named.push_back({name, n.newArticles});
  }
  const QString text = NewArticlesText(std::move(named));
  if (text.isEmpty()) return;
  if (m_sender) {
    m_sender(text);
  } else {
    Send(text);
  }
}

void CNotifier::Send(const QString& text) {
  QDBusConnection bus = m_busName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(m_busName);
  if (!bus.isConnected()) {
    ShowBalloon(text);
    return;
  }
  if (!m_listening) {
    m_listening = true;
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(OnActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(OnNotificationClosed(uint, uint)));
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopAppId));
  hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
  call << QString::fromLatin1(kApplicationName) << static_cast<uint>(m_lastId)
       << QString::fromLatin1(kDesktopAppId) << QString::fromLatin1(kApplicationName) << text
       << QStringList{kDefaultAction, QStringLiteral("Show")} << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, text](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<uint> reply = *w;
    w->deleteLater();
    if (reply.isError()) {
      // No notification service in this session: the tray, if there is one.
      ShowBalloon(text);
      return;
    }
    m_lastId = reply.value();
  });
}

void CNotifier::ShowBalloon(const QString& text) {
  QSystemTrayIcon* icon = m_trayIcon ? m_trayIcon() : nullptr;
  if (icon == nullptr || !icon->isVisible() || !QSystemTrayIcon::supportsMessages()) return;
  connect(icon, &QSystemTrayIcon::messageClicked, this, &CNotifier::activated, Qt::UniqueConnection);
  icon->showMessage(QString::fromLatin1(kApplicationName), text, QSystemTrayIcon::Information);
}

void CNotifier::OnActionInvoked(uint id, const QString& action) {
  if (id == m_lastId && m_lastId != 0 && action == kDefaultAction) emit activated();
}

void CNotifier::OnNotificationClosed(uint id, uint) {
  if (id == m_lastId) m_lastId = 0;
}

}  // namespace qb
