// A D-Bus daemon of the test's own, so tests can put desktop services (the
// notification service, the settings portal) on a bus without touching the
// user's session. Empty address when dbus-daemon is not installed.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace qb::test {

class PrivateBus {
 public:
  PrivateBus() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) return;
    m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                            QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000)) return;
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
    }
    address = QString::fromUtf8(m_daemon.readLine()).trimmed();
  }
  ~PrivateBus() {
    for (const QString& name : m_connections) QDBusConnection::disconnectFromBus(name);
    m_daemon.kill();
    m_daemon.waitForFinished();
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // A new connection to the bus under that name.
  QDBusConnection Connect(const QString& name) {
    m_connections << name;
    return QDBusConnection::connectToBus(address, name);
  }

  QString address;

 private:
  QProcess m_daemon;
  QStringList m_connections;
};

}  // namespace qb::test
