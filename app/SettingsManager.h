// The user's settings and the main window's placement, held in memory in two
// sections that mirror the two groups of the settings file
// (QSettings("Velmorant", "Quillbend"): "Settings" and "WindowSettings").
// Every value is an integer in the file; booleans are stored as 1 and 0.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace qb {

inline constexpr char kOrganisationName[] = "Velmorant";
inline constexpr char kApplicationName[] = "Quillbend";
// The desktop's name for the program: its desktop entry, metainfo and icon.
inline constexpr char kDesktopAppId[] = "net.velmorant.Quillbend";

inline constexpr char kSettingsSection[] = "Settings";
inline constexpr char kWindowSettingsSection[] = "WindowSettings";

// One setting. Every operation sets the three forms together: a boolean has
// nValue 1 or 0, an integer has bValue = (nValue != 0).
struct SettingValue {
  bool bValue = false;
  int32_t nValue = 0;
  QString strValue;
  QString strName;
};

// The four operations on one record. Reads take the stored integer, or the
// default when the value is absent or not an integer. A write of the value
// the file holds writes nothing; other writes reach the file the next time
// the event loop runs, all those of one turn in one write (a failed write
// is not noticed). The file is readable by its owner alone.
bool ReadBoolSetting(const QString& section, SettingValue& record, bool defaultValue);
void WriteBoolSetting(const QString& section, SettingValue& record, bool value);
int32_t ReadIntSetting(const QString& section, SettingValue& record, int32_t defaultValue);
void WriteIntSetting(const QString& section, SettingValue& record, int32_t value);

// Writes one value as the record operations do, without a record.
void StoreSettingValue(const QString& section, const QString& name, int32_t value);
// Writes now what is waiting for the next turn (at exit, before a file is
// made from the settings); false when the file could not be written.
bool FlushSettings();
// Takes in what was written to the file from outside since it was last read.
void ReloadSettings();
// Whether the file holds an integer of that name (or one waits for it).
bool IsSettingStored(const QString& section, const QString& name);

class SettingsSection {
 public:
  explicit SettingsSection(QString name) : m_name(std::move(name)) {}

  // The record of that name; an absent one is inserted with the defaults
  // (false, 0, empty text).
  SettingValue& Get(const QString& name);
  bool Contains(const QString& name) const { return m_values.count(name) != 0; }
  // The integer of the record of that name; 0 when there is none.
  int32_t Value(const QString& name) const;
  // The names of the records held, in name order.
  std::vector<QString> Names() const;
  const QString& Name() const { return m_name; }

  // The record operations on the record of that name.
  bool ReadBool(const QString& name, bool defaultValue);
  void WriteBool(const QString& name, bool value);
  int32_t ReadInt(const QString& name, int32_t defaultValue);
  void WriteInt(const QString& name, int32_t value);

 private:
  std::map<QString, SettingValue> m_values;
  QString m_name;
};

// How the window is coloured: as the desktop prefers, or always light or
// always dark. Stored as its number in "Appearance".
enum class Appearance : int32_t { System = 0, Light = 1, Dark = 2 };

// The stored number as a choice; a number that names none is System.
Appearance AppearanceFromValue(int32_t value);
// The choice the settings file holds now.
Appearance StoredAppearance();

class CSettingsManager {
 public:
  virtual ~CSettingsManager() = default;
  // true: read the settings from the file into memory; false: write them.
  virtual void LoadSave(bool load) = 0;
};

class CRSSReaderSettingsManager : public CSettingsManager {
 public:
  ~CRSSReaderSettingsManager() override = default;

  // Reads (default true) or writes MinimizeToSysTray, CloseToSysTray,
  // ConfirmExit, FirstRun and NotifyNewArticles, in that order, then
  // Appearance (default System; a number that names no choice reads as
  // System), in the "Settings" section; then runs m_applyAppearance.
  // The window section is never loaded or saved as a whole.
  void LoadSave(bool load) override;

  // The in-memory boolean of a "Settings" record.
  bool Setting(const QString& name) { return m_settings.Get(name).bValue; }

  // The in-memory appearance, and its change in memory (LoadSave(false)
  // writes it).
  Appearance GetAppearance();
  void SetAppearance(Appearance appearance);

  // The colours are not read on demand like the other settings: whoever
  // paints them is told after every load and save, once memory and file
  // agree, so a choice made in Options or imported takes effect at once.
  std::function<void(Appearance)> m_applyAppearance;

  SettingsSection m_windowSettings{QString::fromLatin1(kWindowSettingsSection)};
  SettingsSection m_settings{QString::fromLatin1(kSettingsSection)};
};

// Names of the values.
namespace setting {
inline const QString kMinimizeToSysTray = QStringLiteral("MinimizeToSysTray");
inline const QString kCloseToSysTray = QStringLiteral("CloseToSysTray");
inline const QString kConfirmExit = QStringLiteral("ConfirmExit");
inline const QString kFirstRun = QStringLiteral("FirstRun");
// A desktop notification when an automatic update brings news.
inline const QString kNotifyNewArticles = QStringLiteral("NotifyNewArticles");
// The window's colours (Appearance).
inline const QString kAppearance = QStringLiteral("Appearance");
inline const QString kMainFrameIsHidden = QStringLiteral("MainFrameIsHidden");
inline const QString kMainFrameIsMaximized = QStringLiteral("MainFrameIsMaximized");
inline const QString kMainFrameIsMinimized = QStringLiteral("MainFrameIsMinimized");
inline const QString kMainFrameLeft = QStringLiteral("MainFrameLeft");
inline const QString kMainFrameTop = QStringLiteral("MainFrameTop");
inline const QString kMainFrameRight = QStringLiteral("MainFrameRight");
inline const QString kMainFrameBottom = QStringLiteral("MainFrameBottom");
inline const QString kSourceListViewWidth = QStringLiteral("SourceListViewWidth");
inline const QString kFeedListViewHeight = QStringLiteral("FeedListViewHeight");
// Followed by the column number, 1 for the first column.
inline const QString kFeedListViewColWidth = QStringLiteral("FeedListViewColWidth");
// The node selected in the tree (0 for "Feed Sources") and the article
// selected in the list (0 for none), brought back at the next start.
inline const QString kSelectedNode = QStringLiteral("SelectedNode");
inline const QString kSelectedArticle = QStringLiteral("SelectedArticle");
}  // namespace setting

}  // namespace qb
