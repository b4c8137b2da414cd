#include "app/DesktopSecretStore.h"

#include <QEventLoop>
#include <QSettings>
#include <qt6keychain/keychain.h>

namespace qb {

namespace {

const QString kService = QStringLiteral("Quillbend");

// Runs the job to its end; its answers come through the event loop.
void RunJob(QKeychain::Job& job) {
  job.setAutoDelete(false);
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  job.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

class CKeychainStore final : public ISecretStore {
 public:
  std::optional<std::string> Read(const std::string& key) override {
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(QString::fromStdString(key));
    RunJob(job);
    if (job.error() != QKeychain::NoError) return std::nullopt;
    return job.textData().toStdString();
  }
  bool Write(const std::string& key, const std::string& secret, std::string* error) override {
    QKeychain::WritePasswordJob job(kService);
    job.setKey(QString::fromStdString(key));
    job.setTextData(QString::fromStdString(secret));
    RunJob(job);
    if (job.error() == QKeychain::NoError) return true;
    if (error != nullptr) *error = "the desktop's secret store: " + job.errorString().toStdString();
    return false;
  }
  void Remove(const std::string& key) override {
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(QString::fromStdString(key));
    RunJob(job);
  }
};

QSettings Settings() { return QSettings(QStringLiteral("Velmorant"), QStringLiteral("Quillbend")); }

QString SettingKey() { return QStringLiteral("Accounts/") + QLatin1String(CDesktopSecretStore::kSettingName); }

}  // namespace

std::unique_ptr<ISecretStore> OpenDesktopKeychain() {
  // A read of a key that is never kept: "not found" is an answer, no
  // backend (or no session bus) is none.
  QKeychain::ReadPasswordJob probe(kService);
  probe.setKey(QStringLiteral("probe"));
  RunJob(probe);
  if (probe.error() != QKeychain::NoError && probe.error() != QKeychain::EntryNotFound) return nullptr;
  return std::make_unique<CKeychainStore>();
}

CDesktopSecretStore::CDesktopSecretStore(std::unique_ptr<ISecretStore> desktop, std::string fileFolder,
                                         std::function<bool()> askFile)
    : m_desktop(std::move(desktop)), m_file(std::move(fileFolder)), m_askFile(std::move(askFile)) {}

CDesktopSecretStore::Fallback CDesktopSecretStore::StoredFallback() {
  const QString answer = Settings().value(SettingKey()).toString();
  if (answer == QLatin1String("file")) return Fallback::File;
  if (answer == QLatin1String("each-start")) return Fallback::EachStart;
  return Fallback::Unasked;
}

std::optional<std::string> CDesktopSecretStore::Read(const std::string& key) {
  if (m_desktop) {
    if (std::optional<std::string> kept = m_desktop->Read(key)) return kept;
  }
  if (const auto it = m_memory.find(key); it != m_memory.end()) return it->second;
  return m_file.Read(key);
}

bool CDesktopSecretStore::Write(const std::string& key, const std::string& secret, std::string* error) {
  if (m_desktop) {
    if (!m_desktop->Write(key, secret, error)) return false;
    m_file.Remove(key);  // an older copy in the file goes
    return true;
  }
  Fallback fallback = StoredFallback();
  if (fallback == Fallback::Unasked) {
    fallback = m_askFile && m_askFile() ? Fallback::File : Fallback::EachStart;
    QSettings settings = Settings();
    settings.setValue(SettingKey(), fallback == Fallback::File ? QStringLiteral("file") : QStringLiteral("each-start"));
  }
  if (fallback == Fallback::File) return m_file.Write(key, secret, error);
  m_file.Remove(key);
  m_memory[key] = secret;
  return true;
}

void CDesktopSecretStore::Remove(const std::string& key) {
  if (m_desktop) m_desktop->Remove(key);
  m_memory.erase(key);
  m_file.Remove(key);
}

}  // namespace qb
