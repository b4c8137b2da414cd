// Tells the desktop that an automatic update brought news: at most one
// notification per update pass, naming how many articles arrived in which
// feeds. It goes to the freedesktop notification service on the session bus;
// where that service cannot be reached it becomes a tray balloon, and where
// there is no tray either, nothing is shown (the blinking tray icon and the
// bold tree labels still are). The option NotifyNewArticles turns it off.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <unordered_map>
#include <vector>

#include "model/RSSObject.h"

class QSystemTrayIcon;

namespace qb {

class CFeedsManager;
class CRSSReaderSettingsManager;

// What one source brought in a pass.
struct SourceNews {
  ObjectId source = 0;
  int newArticles = 0;
};

// One feed as the notification names it.
struct NamedNews {
  QString name;
  int newArticles = 0;
};

// The notification's text, listing the feeds with the most new articles
// first: "1 new article in Example", "12 new articles in 4 feeds: A, B, C
// and 1 more". Entries with no new articles are left out; empty when nothing
// is new.
QString NewArticlesText(std::vector<NamedNews> news);

// The tray icon's tip: the program's name, then the new-articles notice or
// the number of unread articles (both while the notice is on). At most 63
// characters.
QString TrayToolTip(bool newArticles, int unreadArticles);

// The number of unread articles in the whole tree, as the model's
// operations keep it (CFeedsManager::Counts): no walk over the articles, so
// taking it after each change costs nothing however large the library.
// Lists written directly count after the next RebuildIndexes.
int CountUnreadArticles(const CFeedsManager& manager);

// The number of articles of every source, taken before an update pass, so
// that NewsSince can tell afterwards what the pass brought (a pass only ever
// appends articles).
using ArticleCounts = std::unordered_map<ObjectId, size_t>;
ArticleCounts CountArticlesPerSource(const CFeedsManager& manager);
std::vector<SourceNews> NewsSince(const CFeedsManager& manager, const ArticleCounts& before);

class CNotifier : public QObject {
  Q_OBJECT
 public:
  // The tray icon is asked for when a balloon is needed; it may be null.
  using TrayIconGetter = std::function<QSystemTrayIcon*()>;
  CNotifier(const CFeedsManager& model, CRSSReaderSettingsManager& settings, TrayIconGetter trayIcon,
            QObject* parent = nullptr);
  ~CNotifier() override;

  // An automatic update pass finished and these sources brought new
  // articles. Sources that no longer exist, or brought nothing, are skipped;
  // nothing is shown when none is left or when the option is off.
  void UpdatePassFinished(const std::vector<SourceNews>& news);

  // Replaces the delivery (tests record the text instead); an empty
  // function restores the desktop's.
  using Sender = std::function<void(const QString& text)>;
  void SetSender(Sender sender) { m_sender = std::move(sender); }
  // Talks to the notification service on the named bus connection instead
  // of the session bus (tests run a private bus).
  void UseBus(const QString& connectionName) { m_busName = connectionName; }
  // The service's id of the notice shown last; 0 once it was closed.
  uint LastNotificationId() const { return m_lastId; }

 signals:
  // The user clicked the notification.
  void activated();

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnNotificationClosed(uint id, uint reason);

 private:
  void Send(const QString& text);
  void ShowBalloon(const QString& text);

  const CFeedsManager& m_model;
  CRSSReaderSettingsManager& m_settings;
  TrayIconGetter m_trayIcon;
  Sender m_sender;
  QString m_busName;
  // The service's id of our last notification: the next one replaces it
  // rather than piling up.
  uint m_lastId = 0;
  bool m_listening = false;
};

}  // namespace qb
