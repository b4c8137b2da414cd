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

// Every integer value of the two sections in the settings file.
std::vector<ExportedValue> CollectSettings();
// Writes the file (UTF-16 with byte order mark, as the registry editor
// writes it); false when it could not be written whole.
bool ExportSettings(const QString& path);
// Reads a file written by ExportSettings (or the registry editor) and stores
// its values; false (nothing stored) when it cannot be read or is no
// registry file.
bool ImportSettings(const QString& path);

}  // namespace qb
