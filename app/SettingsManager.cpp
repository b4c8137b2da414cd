#include "app/SettingsManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QThread>
#include <climits>
#include <cstdint>
#include <optional>

namespace qb {

namespace {

QString Key(const QString& section, const QString& name) { return section + u'/' + name; }

// The file readable and writable by its owner alone: what it holds is
// nobody else's business. A file that does not exist yet is made so before
// anything is written into it (the settings keep the permissions of the
// file they replace).
void RestrictFile(const QString& path) {
  const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  QFile file(path);
  if (!file.exists()) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!file.open(QIODevice::WriteOnly)) return;
    file.close();
  }
  if ((file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser)) != owner) file.setPermissions(owner);
}

// The settings object of the program's thread, for as long as the
// application lives. Values written to it are kept until the event loop
// next runs and then written to the file in one go (QSettings posts itself
// that turn), so a burst of changes is one write of the file.
class CSettingsFile final : public QSettings {
 public:
  explicit CSettingsFile(QObject* parent)
      : QSettings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName), parent) {}

  void Write(const QString& key, int32_t value) {
    RestrictFile(fileName());
    setValue(key, value);
  }

 protected:
  bool event(QEvent* event) override {
    const bool handled = QSettings::event(event);
    if (event->type() == QEvent::UpdateRequest) RestrictFile(fileName());
    return handled;
  }
};

// The program's settings object; null without an application object (then
// every access is a settings object of its own, written at once).
CSettingsFile* SettingsFile() {
  static QPointer<CSettingsFile> file;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread()) return nullptr;
  if (file.isNull()) file = new CSettingsFile(app);
  return file.data();
}

std::optional<int32_t> Parse(const QVariant& value) {
  if (!value.isValid()) return std::nullopt;
  bool ok = false;
  // Values written by other tools may exceed the signed range; the bits count.
  const qlonglong n = value.toString().trimmed().toLongLong(&ok);
  if (!ok || n < INT32_MIN || n > UINT32_MAX) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(n));
}

// The stored integer, or nothing when absent or not an integer; a value
// written and not yet in the file counts as stored.
std::optional<int32_t> ReadStored(const QString& section, const QString& name) {
  if (CSettingsFile* file = SettingsFile()) return Parse(file->value(Key(section, name)));
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName));
  return Parse(settings.value(Key(section, name)));
}

void WriteStored(const QString& section, const QString& name, int32_t value) {
  // A value the file already holds is not written again.
  if (ReadStored(section, name) == value) return;
  if (CSettingsFile* file = SettingsFile()) {
    file->Write(Key(section, name), value);
    return;
  }
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName));
  RestrictFile(settings.fileName());
  settings.setValue(Key(section, name), value);
}

}  // namespace

void StoreSettingValue(const QString& section, const QString& name, int32_t value) {
  WriteStored(section, name, value);
}

bool FlushSettings() {
  CSettingsFile* file = SettingsFile();
  if (file == nullptr) return true;
  file->sync();
  RestrictFile(file->fileName());
  return file->status() == QSettings::NoError;
}

bool IsSettingStored(const QString& section, const QString& name) {
  return ReadStored(section, name).has_value();
}

void ReloadSettings() {
  if (CSettingsFile* file = SettingsFile()) file->sync();
}

namespace {

void SetInt(SettingValue& record, int32_t n) {
  record.nValue = n;
  record.bValue = n != 0;
  record.strValue = QString::number(n);
}

void SetBool(SettingValue& record, bool b) {
  record.bValue = b;
  record.nValue = b ? 1 : 0;
  record.strValue = b ? QStringLiteral("1") : QStringLiteral("0");
}

}  // namespace

bool ReadBoolSetting(const QString& section, SettingValue& record, bool defaultValue) {
  const int32_t n = ReadStored(section, record.strName).value_or(defaultValue ? 1 : 0);
  SetBool(record, n != 0);
  return record.bValue;
}

void WriteBoolSetting(const QString& section, SettingValue& record, bool value) {
  SetBool(record, value);
  WriteStored(section, record.strName, record.nValue);
}

int32_t ReadIntSetting(const QString& section, SettingValue& record, int32_t defaultValue) {
  SetInt(record, ReadStored(section, record.strName).value_or(defaultValue));
  return record.nValue;
}

void WriteIntSetting(const QString& section, SettingValue& record, int32_t value) {
  SetInt(record, value);
  WriteStored(section, record.strName, value);
}

SettingValue& SettingsSection::Get(const QString& name) {
  auto [it, inserted] = m_values.try_emplace(name);
  if (inserted) it->second.strName = name;
  return it->second;
}

bool SettingsSection::ReadBool(const QString& name, bool defaultValue) {
  return ReadBoolSetting(m_name, Get(name), defaultValue);
}

void SettingsSection::WriteBool(const QString& name, bool value) {
  WriteBoolSetting(m_name, Get(name), value);
}

int32_t SettingsSection::ReadInt(const QString& name, int32_t defaultValue) {
  return ReadIntSetting(m_name, Get(name), defaultValue);
}

void SettingsSection::WriteInt(const QString& name, int32_t value) {
  WriteIntSetting(m_name, Get(name), value);
}

int32_t SettingsSection::Value(const QString& name) const {
  const auto it = m_values.find(name);
  return it == m_values.end() ? 0 : it->second.nValue;
}

std::vector<QString> SettingsSection::Names() const {
  std::vector<QString> names;
  names.reserve(m_values.size());
  for (const auto& [name, value] : m_values) names.push_back(name);
  return names;
}

Appearance AppearanceFromValue(int32_t value) {
  switch (value) {
    case static_cast<int32_t>(Appearance::Light):
      return Appearance::Light;
    case static_cast<int32_t>(Appearance::Dark):
      return Appearance::Dark;
    default:
      return Appearance::System;
  }
}

Appearance StoredAppearance() {
  SettingValue record;
  record.strName = setting::kAppearance;
  return AppearanceFromValue(ReadIntSetting(QString::fromLatin1(kSettingsSection), record, 0));
}

void CRSSReaderSettingsManager::LoadSave(bool load) {
  // What another program (or an import) wrote since is read first: a load
  // takes it in, a save compares with it (and so writes over it).
  ReloadSettings();
  for (const QString* name : {&setting::kMinimizeToSysTray, &setting::kCloseToSysTray,
                              &setting::kConfirmExit, &setting::kFirstRun,
                              &setting::kNotifyNewArticles}) {
    if (load) {
      m_settings.ReadBool(*name, true);
    } else {
      m_settings.WriteBool(*name, m_settings.Get(*name).bValue);
    }
  }
  if (load) {
    // A number from a newer version or another tool is no choice of ours.
    SetAppearance(AppearanceFromValue(m_settings.ReadInt(setting::kAppearance, 0)));
  } else {
    m_settings.WriteInt(setting::kAppearance, static_cast<int32_t>(GetAppearance()));
  }
  if (m_applyAppearance) m_applyAppearance(GetAppearance());
}

Appearance CRSSReaderSettingsManager::GetAppearance() {
  return AppearanceFromValue(m_settings.Get(setting::kAppearance).nValue);
}

void CRSSReaderSettingsManager::SetAppearance(Appearance appearance) {
  SetInt(m_settings.Get(setting::kAppearance), static_cast<int32_t>(appearance));
}

}  // namespace qb
