#include "app/DesktopScheme.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

#include "tests/app/PrivateBus.h"
#include "views/ArticlePage.h"

namespace qb {
namespace {

QVariant Wrapped(const QVariant& value, int times) {
  QVariant v = value;
  for (int i = 0; i < times; ++i) v = QVariant::fromValue(QDBusVariant(v));
  return v;
}

TEST(DesktopSchemeTest, ThePortalsValueNamesThePreference) {
  struct Case {
    QVariant value;
    ColorPreference preference;
  };
  const Case cases[] = {
      {QVariant(1u), ColorPreference::Dark},
      {QVariant(2u), ColorPreference::Light},
      {QVariant(0u), ColorPreference::None},
      {QVariant(7u), ColorPreference::None},
      {Wrapped(QVariant(1u), 1), ColorPreference::Dark},
      {Wrapped(QVariant(1u), 2), ColorPreference::Dark},
      {Wrapped(QVariant(2u), 2), ColorPreference::Light},
      {QVariant(QStringLiteral("1")), ColorPreference::None},
      {Wrapped(QVariant(QStringLiteral("dark")), 1), ColorPreference::None},
      {QVariant(), ColorPreference::None},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PreferenceFromPortalValue(c.value), c.preference) << c.value.typeName();
  }
  EXPECT_EQ(PreferenceFromGtkTheme(QStringLiteral("Adwaita:dark")), ColorPreference::Dark);
  EXPECT_EQ(PreferenceFromGtkTheme(QStringLiteral("Arc:Dark ")), ColorPreference::Dark);
  EXPECT_EQ(PreferenceFromGtkTheme(QStringLiteral("Adwaita")), ColorPreference::None);
  EXPECT_EQ(PreferenceFromGtkTheme(QStringLiteral("darkness")), ColorPreference::None);
  EXPECT_EQ(PreferenceFromGtkTheme(QString()), ColorPreference::None);
}

// The dark preference as Debian's desktops store it: GTK's settings.ini
// (written by the GNOME, Xfce and MATE tools and read by Qt's gtk3 theme)
// and KDE's kdeglobals.
TEST(DesktopSchemeTest, TheDesktopsSettingsFilesNameThePreference) {
  struct Case {
    const char* text;
    ColorPreference gtk;
    ColorPreference kde;
  };
  const Case cases[] = {
      {"[Settings]\ngtk-application-prefer-dark-theme=true\n", ColorPreference::Dark, ColorPreference::None},
      {"[Settings]\ngtk-application-prefer-dark-theme = 1\n", ColorPreference::Dark, ColorPreference::None},
      {"[Settings]\ngtk-application-prefer-dark-theme=0\ngtk-theme-name=Adwaita\n", ColorPreference::None,
       ColorPreference::None},
      {"[Settings]\ngtk-theme-name=Adwaita-dark\n", ColorPreference::Dark, ColorPreference::None},
      {"[Settings]\ngtk-theme-name=Arc-Dark\n", ColorPreference::Dark, ColorPreference::None},
      {"[Settings]\ngtk-theme-name=Darkroom\n", ColorPreference::None, ColorPreference::None},
      {"[Other]\ngtk-application-prefer-dark-theme=true\n", ColorPreference::None, ColorPreference::None},
      {"[General]\nColorScheme=BreezeDark\n", ColorPreference::None, ColorPreference::Dark},
      {"[General]\nColorScheme=BreezeLight\n[Colors:Window]\nBackgroundNormal=239,240,241\n",
       ColorPreference::None, ColorPreference::Light},
      {"[General]\nColorScheme=Mine\n[Colors:Window]\nBackgroundNormal=49,54,59\n", ColorPreference::None,
       ColorPreference::Dark},
      {"[Colors:Window]\nBackgroundNormal=not,a,colour\n", ColorPreference::None, ColorPreference::None},
      {"", ColorPreference::None, ColorPreference::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PreferenceFromGtkSettings(QString::fromLatin1(c.text)), c.gtk);
    EXPECT_EQ(PreferenceFromKdeGlobals(QString::fromLatin1(c.text)), c.kde);
  }

  QTemporaryDir home;
  auto write = [&](const QString& name, const QByteArray& text) {
    QDir(home.path()).mkpath(QFileInfo(home.filePath(name)).path());
    QFile file(home.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  };
  EXPECT_EQ(PreferenceFromConfigFiles(home.path(), false), ColorPreference::None);
  write(QStringLiteral("gtk-4.0/settings.ini"), "[Settings]\ngtk-application-prefer-dark-theme=true\n");
  EXPECT_EQ(PreferenceFromConfigFiles(home.path(), false), ColorPreference::Dark);
  write(QStringLiteral("kdeglobals"), "[Colors:Window]\nBackgroundNormal=239,240,241\n");
  EXPECT_EQ(PreferenceFromConfigFiles(home.path(), false), ColorPreference::Dark) << "GTK's first";
  EXPECT_EQ(PreferenceFromConfigFiles(home.path(), true), ColorPreference::Light) << "on KDE, KDE's first";
}

TEST(DesktopSchemeTest, TheOwnPalettesAreReadableEverywhere) {
  for (const bool wantDark : {true, false}) {
  SCOPED_TRACE(wantDark ? "dark" : "light");
  const QPalette dark = wantDark ? DarkPalette() : LightPalette();
  EXPECT_EQ(IsDarkPalette(dark), wantDark);
  struct Pair {
    QPalette::ColorRole text;
    QPalette::ColorRole background;
  };
  const Pair pairs[] = {
      {QPalette::WindowText, QPalette::Window},   {QPalette::Text, QPalette::Base},
      {QPalette::Text, QPalette::AlternateBase},  {QPalette::ButtonText, QPalette::Button},
      {QPalette::HighlightedText, QPalette::Highlight}, {QPalette::ToolTipText, QPalette::ToolTipBase},
      {QPalette::Link, QPalette::Base},           {QPalette::LinkVisited, QPalette::Base},
  };
  for (const Pair& p : pairs) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      EXPECT_GE(ContrastRatio(dark.color(group, p.text), dark.color(group, p.background)), 4.5)
          << p.text << " on " << p.background;
    }
  }
  // Greyed-out text is told apart from text, and still seen.
  const QColor disabled = dark.color(QPalette::Disabled, QPalette::Text);
  EXPECT_NE(disabled, dark.color(QPalette::Active, QPalette::Text));
  EXPECT_GE(ContrastRatio(disabled, dark.color(QPalette::Disabled, QPalette::Base)), 3.0);
  }
}

TEST(DesktopSchemeTest, OnlyALightPaletteIsDarkenedOnRequest) {
  QPalette light(Qt::black, QColor(240, 240, 240));
  QPalette ownDark(Qt::white, QColor(20, 20, 20));
  EXPECT_FALSE(IsDarkPalette(light));
  EXPECT_TRUE(IsDarkPalette(ownDark));
  EXPECT_EQ(PaletteFor(ColorPreference::Dark, light), DarkPalette());
  EXPECT_EQ(PaletteFor(ColorPreference::Dark, ownDark), ownDark);
  EXPECT_EQ(PaletteFor(ColorPreference::Light, light), light);
  EXPECT_EQ(PaletteFor(ColorPreference::Light, ownDark), ownDark);
  EXPECT_EQ(PaletteFor(ColorPreference::None, light), light);
}

// The user's choice against each preference of the desktop, over a light
// and a dark palette from Qt: System is the desktop's rule above, the other
// two hold whatever the desktop prefers.
TEST(DesktopSchemeTest, TheChoiceOverridesTheDesktopBothWays) {
  const QPalette light(Qt::black, QColor(240, 240, 240));
  const QPalette ownDark(Qt::white, QColor(20, 20, 20));
  enum Expect { QtsOwn, Dark, Light };
  struct Case {
    Appearance choice;
    ColorPreference desktop;
    Expect overLight;
    Expect overDark;
  };
  const Case cases[] = {
      {Appearance::System, ColorPreference::None, QtsOwn, QtsOwn},
      {Appearance::System, ColorPreference::Dark, Dark, QtsOwn},
      {Appearance::System, ColorPreference::Light, QtsOwn, QtsOwn},
      {Appearance::Light, ColorPreference::None, QtsOwn, Light},
      {Appearance::Light, ColorPreference::Dark, QtsOwn, Light},
      {Appearance::Light, ColorPreference::Light, QtsOwn, Light},
      {Appearance::Dark, ColorPreference::None, Dark, QtsOwn},
      {Appearance::Dark, ColorPreference::Dark, Dark, QtsOwn},
      {Appearance::Dark, ColorPreference::Light, Dark, QtsOwn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.choice) << " over " << int(c.desktop));
    for (const QPalette* qt : {&light, &ownDark}) {
      const Expect e = qt == &light ? c.overLight : c.overDark;
      const QPalette expected = e == QtsOwn ? *qt : e == Dark ? DarkPalette() : LightPalette();
      EXPECT_EQ(PaletteFor(c.choice, c.desktop, *qt), expected) << (qt == &light ? "light" : "dark");
    }
  }
}

// A desktop that prefers dark (GTK_THEME), then the user's choices one after
// the other in the running program.
TEST(DesktopSchemeTest, AChoiceTakesEffectAtOnce) {
  const QPalette original = QApplication::palette();
  ASSERT_FALSE(IsDarkPalette(original));
  const QByteArray oldTheme = qgetenv("GTK_THEME");
  qputenv("GTK_THEME", "Adwaita:dark");
  {
    // A bus connection that does not exist: no portal.
    CDesktopColorScheme scheme(Appearance::Light, nullptr, QStringLiteral("qbtest-no-bus"));
    EXPECT_EQ(scheme.Preference(), ColorPreference::Dark);
    EXPECT_EQ(QApplication::palette(), original);
    QWidget widget;
    widget.show();
    const auto widgetBase = [&](const QColor& wanted) {
      return QTest::qWaitFor([&] { return widget.palette().color(QPalette::Base) == wanted; }, 2000);
    };
    scheme.SetChoice(Appearance::System);
    EXPECT_EQ(QApplication::palette(), DarkPalette());
    EXPECT_TRUE(widgetBase(DarkPalette().color(QPalette::Base)));
    scheme.SetChoice(Appearance::Light);
    EXPECT_EQ(QApplication::palette(), original);
    EXPECT_TRUE(widgetBase(original.color(QPalette::Base)));
    scheme.SetChoice(Appearance::Dark);
    EXPECT_EQ(QApplication::palette(), DarkPalette());
  }
  if (oldTheme.isNull()) {
    qunsetenv("GTK_THEME");
  } else {
    qputenv("GTK_THEME", oldTheme);
  }
  QApplication::setPalette(original);
}

// The settings portal as the desktop runs it.
class FakePortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

 public:
  uint scheme = 1;
  std::atomic<int> reads{0};

 public slots:
  QDBusVariant Read(const QString& group, const QString& key) {
    ++reads;
    if (group != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme"))
      return QDBusVariant(QVariant(0u));
    // As the portal answers: the value in a variant in a variant.
    return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(scheme))));
  }
};

TEST(DesktopSchemeTest, FollowsThePortalAtStartAndWhenItChanges) {
  test::PrivateBus bus;
  if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
  QDBusConnection service = bus.Connect(QStringLiteral("qbtest-portal"));
  // In a thread of its own: start-up waits for the portal's answer.
  QThread portalThread;
  FakePortal portal;
  portal.moveToThread(&portalThread);
  portalThread.start();
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
  ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                     QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(bus.Connect(QStringLiteral("qbtest-app")).isConnected());

  const QPalette original = QApplication::palette();
  ASSERT_FALSE(IsDarkPalette(original));
  {
    CDesktopColorScheme scheme(Appearance::System, nullptr, QStringLiteral("qbtest-app"));
    EXPECT_EQ(portal.reads, 1);
    EXPECT_EQ(scheme.Preference(), ColorPreference::Dark);
    EXPECT_EQ(QApplication::palette(), DarkPalette());

    QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                      QStringLiteral("org.freedesktop.portal.Settings"),
                                                      QStringLiteral("SettingChanged"));
    changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
            << QVariant::fromValue(QDBusVariant(QVariant(2u)));
    service.send(changed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scheme.Preference() == ColorPreference::Light; }, 5000));
    EXPECT_EQ(QApplication::palette(), original);

    // The user's choice holds when the desktop changes its mind.
    scheme.SetChoice(Appearance::Light);
    QDBusMessage dark = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                   QStringLiteral("org.freedesktop.portal.Settings"),
                                                   QStringLiteral("SettingChanged"));
    dark << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
         << QVariant::fromValue(QDBusVariant(QVariant(1u)));
    service.send(dark);
    EXPECT_TRUE(QTest::qWaitFor([&] { return scheme.Preference() == ColorPreference::Dark; }, 5000));
    EXPECT_EQ(QApplication::palette(), original);
    scheme.SetChoice(Appearance::System);
    EXPECT_EQ(QApplication::palette(), DarkPalette());
  }
  QApplication::setPalette(original);
  service.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
  portalThread.quit();
  portalThread.wait();
}

}  // namespace
}  // namespace qb

#include "DesktopSchemeTest.moc"
