#include "app/DesktopScheme.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QStandardPaths>

namespace qb {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");
// Start-up waits this long at most for a portal that is slow to answer.
constexpr int kPortalTimeoutMs = 500;

QDBusConnection Bus(const QString& name) {
  return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

ColorPreference ReadPortal(const QDBusConnection& bus) {
  if (!bus.isConnected()) return ColorPreference::None;
  QDBusMessage call =
      QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("Read"));
  call << kAppearance << kColorScheme;
  const QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return ColorPreference::None;
  return PreferenceFromPortalValue(reply.arguments().constFirst());
}

// The value of `key` in `group` of an ini text ("key=value" lines under
// "[group]"); empty when absent. The last one wins, as in the desktops' own
// readers.
QString IniValue(const QString& text, const QString& group, const QString& key) {
  QString value;
  QString current;
  for (const QString& raw : text.split(u'\n')) {
    const QString line = raw.trimmed();
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      current = line.mid(1, line.size() - 2).trimmed();
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0 || current != group) continue;
    if (line.left(eq).trimmed() == key) value = line.mid(eq + 1).trimmed();
  }
  return value;
}

QString ReadText(const QString& path) {
  QFile file(path);
  // A settings file is small; anything larger is not one.
  if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

ColorPreference PreferenceFromGtkSettings(const QString& iniText) {
  const QString group = QStringLiteral("Settings");
  const QString prefer = IniValue(iniText, group, QStringLiteral("gtk-application-prefer-dark-theme")).toLower();
  if (prefer == QLatin1String("true") || prefer == QLatin1String("1")) return ColorPreference::Dark;
  const QString theme = IniValue(iniText, group, QStringLiteral("gtk-theme-name"));
  if (theme.endsWith(QLatin1String("-dark"), Qt::CaseInsensitive) ||
      theme.endsWith(QLatin1String(":dark"), Qt::CaseInsensitive)) {
    return ColorPreference::Dark;
  }
  return ColorPreference::None;
}

ColorPreference PreferenceFromKdeGlobals(const QString& iniText) {
  const QStringList rgb =
      IniValue(iniText, QStringLiteral("Colors:Window"), QStringLiteral("BackgroundNormal")).split(u',');
  if (rgb.size() >= 3) {
    bool ok[3] = {false, false, false};
    const QColor background(rgb[0].trimmed().toInt(&ok[0]), rgb[1].trimmed().toInt(&ok[1]),
                            rgb[2].trimmed().toInt(&ok[2]));
    if (ok[0] && ok[1] && ok[2] && background.isValid())
      return background.lightness() < 128 ? ColorPreference::Dark : ColorPreference::Light;
  }
  const QString scheme = IniValue(iniText, QStringLiteral("General"), QStringLiteral("ColorScheme"));
  if (scheme.contains(QLatin1String("dark"), Qt::CaseInsensitive)) return ColorPreference::Dark;
  return ColorPreference::None;
}

ColorPreference PreferenceFromConfigFiles(const QString& configHome, bool kdeFirst) {
  const auto gtk = [&] {
    for (const char* folder : {"/gtk-3.0/settings.ini", "/gtk-4.0/settings.ini"}) {
      const ColorPreference p = PreferenceFromGtkSettings(ReadText(configHome + QLatin1String(folder)));
      if (p != ColorPreference::None) return p;
    }
    return ColorPreference::None;
  };
  const auto kde = [&] { return PreferenceFromKdeGlobals(ReadText(configHome + QStringLiteral("/kdeglobals"))); };
  const ColorPreference first = kdeFirst ? kde() : gtk();
  if (first != ColorPreference::None) return first;
  return kdeFirst ? gtk() : kde();
}

ColorPreference PreferenceFromPortalValue(const QVariant& value) {
  QVariant v = value;
  // Read answers a variant holding a variant; a few portals add one more.
  for (int depth = 0; depth < 4; ++depth) {
    if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>()) {
      v = v.value<QDBusVariant>().variant();
    } else if (v.userType() == qMetaTypeId<QDBusArgument>()) {
      const QDBusArgument argument = v.value<QDBusArgument>();
      if (argument.currentType() != QDBusArgument::VariantType) break;
      v = qdbus_cast<QDBusVariant>(argument).variant();
    } else {
      break;
    }
  }
  bool ok = false;
  const uint scheme = v.toUInt(&ok);
  if (!ok || v.userType() == QMetaType::QString) return ColorPreference::None;
  if (scheme == 1) return ColorPreference::Dark;
  if (scheme == 2) return ColorPreference::Light;
  return ColorPreference::None;
}

ColorPreference PreferenceFromGtkTheme(const QString& gtkTheme) {
  return gtkTheme.trimmed().endsWith(QLatin1String(":dark"), Qt::CaseInsensitive) ? ColorPreference::Dark
                                                                                   : ColorPreference::None;
}

bool IsDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Active, QPalette::Window).lightness() <
         palette.color(QPalette::Active, QPalette::WindowText).lightness();
}

QPalette DarkPalette() {
  const QColor window(0x31, 0x36, 0x3b);
  const QColor base(0x23, 0x26, 0x29);
  const QColor text(0xef, 0xf0, 0xf1);
  const QColor disabledText(0x7f, 0x83, 0x87);
  QPalette p(text, window, QColor(0x47, 0x4d, 0x54), QColor(0x1e, 0x21, 0x24), QColor(0x2c, 0x30, 0x34),
             text, QColor(0xff, 0xff, 0xff), base, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2e, 0x32));
  p.setColor(QPalette::Midlight, QColor(0x3b, 0x40, 0x45));
  p.setColor(QPalette::Shadow, QColor(0x14, 0x16, 0x18));
  p.setColor(QPalette::ToolTipBase, window);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabledText);
  p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
  p.setColor(QPalette::HighlightedText, QColor(0x10, 0x12, 0x14));
  p.setColor(QPalette::Link, QColor(0x5c, 0xb8, 0xff));
  p.setColor(QPalette::LinkVisited, QColor(0xc0, 0x9c, 0xf0));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, disabledText);
  }
  p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4a, 0x50, 0x56));
  p.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
  return p;
}

QPalette LightPalette() {
  const QColor window(0xef, 0xef, 0xef);
  const QColor text(Qt::black);
  const QColor disabledText(0x80, 0x80, 0x80);
  const QColor dark = window.darker(150);
  QPalette p(text, window, window.lighter(150), dark, window.darker(130), text, QColor(Qt::white),
             QColor(Qt::white), window);
  p.setColor(QPalette::Midlight, window.darker(130).lighter(110));
  p.setColor(QPalette::Shadow, dark.darker(135));
  p.setColor(QPalette::AlternateBase, QColor(0xf7, 0xf7, 0xf7));
  p.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xdc));
  p.setColor(QPalette::ToolTipText, text);
  QColor placeholder = text;
  placeholder.setAlpha(128);
  p.setColor(QPalette::PlaceholderText, placeholder);
  p.setColor(QPalette::Highlight, QColor(0x2a, 0x76, 0xb5));
  p.setColor(QPalette::HighlightedText, QColor(Qt::white));
  p.setColor(QPalette::Link, QColor(0x00, 0x00, 0xff));
  p.setColor(QPalette::LinkVisited, QColor(0x80, 0x00, 0x80));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, disabledText);
  }
  p.setColor(QPalette::Disabled, QPalette::Base, window);
  p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x91, 0x91, 0x91));
  return p;
}

QPalette PaletteFor(ColorPreference preference, const QPalette& chosenByQt) {
  if (preference == ColorPreference::Dark && !IsDarkPalette(chosenByQt)) return DarkPalette();
  return chosenByQt;
}

QPalette PaletteFor(Appearance choice, ColorPreference desktop, const QPalette& chosenByQt) {
  switch (choice) {
    case Appearance::Light:
      return IsDarkPalette(chosenByQt) ? LightPalette() : chosenByQt;
    case Appearance::Dark:
      return IsDarkPalette(chosenByQt) ? chosenByQt : DarkPalette();
    case Appearance::System:
      break;
  }
  return PaletteFor(desktop, chosenByQt);
}

CDesktopColorScheme::CDesktopColorScheme(Appearance choice, QObject* parent, const QString& busConnection)
    : QObject(parent), m_chosenByQt(QApplication::palette()), m_choice(choice) {
  QDBusConnection bus = Bus(busConnection);
  ColorPreference preference = ReadPortal(bus);
  if (preference == ColorPreference::None) {
    preference = PreferenceFromGtkTheme(QString::fromLocal8Bit(qgetenv("GTK_THEME")));
  }
  if (preference == ColorPreference::None) {
    const QString desktop = QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP"));
    preference = PreferenceFromConfigFiles(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                                           desktop.contains(QLatin1String("KDE"), Qt::CaseInsensitive));
  }
  Apply(preference);
  if (bus.isConnected()) {
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                SLOT(OnSettingChanged(QString, QString, QDBusVariant)));
  }
}

void CDesktopColorScheme::OnSettingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
  if (group != kAppearance || key != kColorScheme) return;
  Apply(PreferenceFromPortalValue(QVariant::fromValue(value)));
}

void CDesktopColorScheme::SetChoice(Appearance choice) {
  m_choice = choice;
  Apply(m_preference);
}

void CDesktopColorScheme::Apply(ColorPreference preference) {
  m_preference = preference;
  const QPalette wanted = PaletteFor(m_choice, preference, m_chosenByQt);
  // Every widget hears of the change (the article page rewrites itself).
  if (wanted != QApplication::palette()) QApplication::setPalette(wanted);
}

}  // namespace qb
