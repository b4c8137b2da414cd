// Follows the desktop's light or dark colour scheme. Qt's platform themes on
// our Qt version pass the desktop's fonts and scale on, but not whether the
// user asked for dark windows, so the preference is read here: from the
// desktop portal's "color-scheme" setting (GNOME, KDE and others), else from
// a GTK_THEME that names a dark variant, else from the files the desktops'
// settings tools write: GTK's settings.ini (gtk-3.0, gtk-4.0) and KDE's
// kdeglobals (under XDG_CONFIG_HOME), KDE's first on a KDE desktop. A preference for dark over a light
// palette gives the application a dark palette; a change back restores the
// palette Qt chose. A palette that is dark already is left alone.
// The user's choice in Options (Appearance) overrides the desktop: Light or
// Dark whatever it prefers, System as described.
#pragma once

#include <QObject>
#include <QPalette>
#include <QString>
#include <QDBusVariant>
#include <QVariant>

#include "app/SettingsManager.h"

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

// A complete light palette (Qt's own light one, with selections, visited
// links and greyed-out text dark enough to read), for a choice of Light
// where Qt chose a dark palette.
QPalette LightPalette();

// The palette for a preference, given the one Qt chose.
QPalette PaletteFor(ColorPreference preference, const QPalette& chosenByQt);

// The palette for the user's choice: System as PaletteFor the desktop's
// preference; Light and Dark keep the palette Qt chose when it is of that
// kind already, else LightPalette() or DarkPalette().
QPalette PaletteFor(Appearance choice, ColorPreference desktop, const QPalette& chosenByQt);

class CDesktopColorScheme : public QObject {
  Q_OBJECT
 public:
  // Reads the preference on the session bus (or the named connection) at
  // once and applies it with the user's `choice`, then follows its changes.
  explicit CDesktopColorScheme(Appearance choice = Appearance::System, QObject* parent = nullptr,
                               const QString& busConnection = QString());

  // The desktop's preference, whatever the user chose.
  ColorPreference Preference() const { return m_preference; }
  Appearance Choice() const { return m_choice; }
  // The user's new choice, applied at once.
  void SetChoice(Appearance choice);

 private slots:
  void OnSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

 private:
  void Apply(ColorPreference preference);

  QPalette m_chosenByQt;
  ColorPreference m_preference = ColorPreference::None;
  Appearance m_choice = Appearance::System;
};

}  // namespace qb
