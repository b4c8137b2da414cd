// Export and import of the whole settings area ("Settings" and
// "WindowSettings") as a registry file: "Windows Registry Editor Version
// 5.00", one block per section under
// HKEY_CURRENT_USER\Software\Velmorant\Quillbend, "Name"=dword:xxxxxxxx
// lines. The same file imports on Windows by opening it.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace qb {

struct ExportedValue {
  QString section;
  QString name;
  int32_t value = 0;
};

// The path with ".reg" appended unless it already ends in it (any case).
QString WithRegExtension(const QString& path);

// The file's text for the values (CRLF line ends).
QString FormatSettingsFile(const std::vector<ExportedValue>& values);
// The values of our two sections found in the text; nothing when the text is
// not a registry file. Keys other than our two sections and values that are
// not dwords are skipped.
std::optional<std::vector<ExportedValue>> ParseSettingsFile(const QString& text);

class CRSSReaderSettingsManager;

// Every integer value of the two sections in the settings file, and, with
// `inUse`, every value the program holds that the file lacks (a setting
// still at its default), so the export restores the whole configuration.
std::vector<ExportedValue> CollectSettings(const CRSSReaderSettingsManager* inUse = nullptr);
// Writes the file (UTF-16 with byte order mark, as the registry editor
// writes it) with CollectSettings(inUse); false when it could not be
// written whole.
bool ExportSettings(const QString& path, const CRSSReaderSettingsManager* inUse = nullptr);
// Reads a file written by ExportSettings (or the registry editor) and stores
// its values; false (nothing stored) when it cannot be read or is no
// registry file.
bool ImportSettings(const QString& path);

}  // namespace qb
