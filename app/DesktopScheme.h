// Follows the desktop's light or dark colour scheme. Qt's platform themes on
// our Qt version pass the desktop's fonts and scale on, but not whether the
// user asked for dark windows, so the preference is read here: from the
// desktop portal's "color-scheme" setting (GNOME, KDE and others), else from
// a GTK_THEME that names a dark variant, else from the files the desktops'
// settings tools write: GTK's settings.ini (gtk-3.0, gtk-4.0) and KDE's
// kdeglobals (under XDG_CONFIG_HOME), KDE's first on a KDE desktop. A preference for dark over a light
// palette gives the application a dark palette; a change back restores the
// palette Qt chose. A palette that is dark already is left alone.
#pragma once

#include <QObject>
#include <QPalette>
#include <QString>
#include <QDBusVariant>
#include <QVariant>

namespace qb {

enum class ColorPreference { None, Dark, Light };

// The portal's value: 1 prefers dark, 2 prefers light, anything else none.
// Variants nested by the bus (as some portals answer Read) are unwrapped.
ColorPreference PreferenceFromPortalValue(const QVariant& value);

// "Adwaita:dark" prefers dark; any other theme says nothing.
ColorPreference PreferenceFromGtkTheme(const QString& gtkTheme);

// A GTK settings.ini: gtk-application-prefer-dark-theme=true (or 1), or a
// gtk-theme-name ending in "-dark" or ":dark", in its [Settings] group,
// prefers dark; anything else says nothing.
ColorPreference PreferenceFromGtkSettings(const QString& iniText);

// KDE's kdeglobals: the colour scheme's window background ([Colors:Window]
// BackgroundNormal=r,g,b) decides; without it, a [General] ColorScheme
// whose name contains "Dark". Nothing usable says nothing.
ColorPreference PreferenceFromKdeGlobals(const QString& iniText);

// The preference the files under `configHome` state (see above); `kdeFirst`
// on a KDE desktop. Missing or unreadable files say nothing.
ColorPreference PreferenceFromConfigFiles(const QString& configHome, bool kdeFirst);

// Whether the palette draws light text on dark windows.
bool IsDarkPalette(const QPalette& palette);

// A complete dark palette: windows, input fields, selections, readable links
// and greyed-out text.
QPalette DarkPalette();

// The palette for a preference, given the one Qt chose.
QPalette PaletteFor(ColorPreference preference, const QPalette& chosenByQt);

class CDesktopColorScheme : public QObject {
  Q_OBJECT
 public:
  // Reads the preference on the session bus (or the named connection) at
  // once and applies it, then follows its changes.
  explicit CDesktopColorScheme(QObject* parent = nullptr, const QString& busConnection = QString());

  ColorPreference Preference() const { return m_preference; }

 private slots:
  void OnSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

 private:
  void Apply(ColorPreference preference);

  QPalette m_chosenByQt;
  ColorPreference m_preference = ColorPreference::None;
};

}  // namespace qb
