#include "app/SettingsExport.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStringConverter>
#include <QStringDecoder>

#include "app/SettingsManager.h"

#include <algorithm>
#include <climits>

namespace qb {

namespace {

const QString kHeader = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kKeyPrefix = QStringLiteral("HKEY_CURRENT_USER\\Software\\Velmorant\\Quillbend");

const QStringList& Sections() {
  static const QStringList sections{QString::fromLatin1(kSettingsSection),
                                    QString::fromLatin1(kWindowSettingsSection)};
  return sections;
}

}  // namespace

QString WithRegExtension(const QString& path) {
  if (path.toLower().endsWith(QLatin1String(".reg"))) return path;
  return path + QStringLiteral(".reg");
}

QString FormatSettingsFile(const std::vector<ExportedValue>& values) {
  QString text = kHeader + QStringLiteral("\r\n\r\n");
  text += u'[' + kKeyPrefix + QStringLiteral("]\r\n\r\n");
  for (const QString& section : Sections()) {
    text += u'[' + kKeyPrefix + u'\\' + section + QStringLiteral("]\r\n");
    for (const ExportedValue& v : values) {
      if (v.section != section) continue;
      text += QStringLiteral("\"%1\"=dword:%2\r\n")
                  .arg(v.name)
                  .arg(static_cast<uint32_t>(v.value), 8, 16, QLatin1Char('0'));
    }
    text += QStringLiteral("\r\n");
  }
  return text;
}

std::optional<std::vector<ExportedValue>> ParseSettingsFile(const QString& text) {
  const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r?\n")));
  if (lines.isEmpty() || lines.front().trimmed() != kHeader) return std::nullopt;
  static const QRegularExpression valueLine(
      QStringLiteral("^\"((?:[^\"\\\\]|\\\\.)*)\"=dword:([0-9A-Fa-f]{1,8})$"));
  std::vector<ExportedValue> values;
  QString section;  // empty: a key we do not import from
  for (const QString& raw : lines.mid(1)) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(u';')) continue;
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      const QString key = line.mid(1, line.size() - 2);
      section.clear();
      for (const QString& s : Sections()) {
        if (key.compare(kKeyPrefix + u'\\' + s, Qt::CaseInsensitive) == 0) section = s;
      }
      continue;
    }
    if (section.isEmpty()) continue;
    const QRegularExpressionMatch m = valueLine.match(line);
    if (!m.hasMatch()) continue;
    QString name = m.captured(1);
    name.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\')) continue;
    const uint32_t bits = m.captured(2).toUInt(nullptr, 16);
    values.push_back({section, name, static_cast<int32_t>(bits)});
  }
  return values;
}

std::vector<ExportedValue> CollectSettings(const CRSSReaderSettingsManager* inUse) {
  std::vector<ExportedValue> values;
  QSettings settings(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName));
  for (const QString& section : Sections()) {
    settings.beginGroup(section);
    for (const QString& name : settings.childKeys()) {
      bool ok = false;
      const qlonglong n = settings.value(name).toString().trimmed().toLongLong(&ok);
      if (!ok || n < INT32_MIN || n > static_cast<qlonglong>(UINT32_MAX)) continue;
      values.push_back({section, name, static_cast<int32_t>(static_cast<uint32_t>(n))});
    }
    settings.endGroup();
  }
  if (inUse == nullptr) return values;
  for (const SettingsSection* section : {&inUse->m_settings, &inUse->m_windowSettings}) {
    for (const QString& name : section->Names()) {
      const bool stored = std::any_of(values.begin(), values.end(), [&](const ExportedValue& v) {
        return v.section == section->Name() && v.name == name;
      });
      if (!stored) values.push_back({section->Name(), name, section->Value(name)});
    }
  }
  return values;
}

bool ExportSettings(const QString& path, const CRSSReaderSettingsManager* inUse) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
  const QByteArray bytes = encoder(FormatSettingsFile(CollectSettings(inUse)));
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

bool ImportSettings(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  // UTF-16 with its mark as written by the registry editor, else UTF-8.
  auto encoding = QStringConverter::encodingForData(bytes);
  QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
  QString text = decoder(bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  const auto values = ParseSettingsFile(text);
  if (!values) return false;
  for (const ExportedValue& v : *values) StoreSettingValue(v.section, v.name, v.value);
  return FlushSettings();
}

}  // namespace qb
