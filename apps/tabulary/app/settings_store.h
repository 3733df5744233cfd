// The per-user settings store: text values under application "Quillmoor",
// section "Tabulary", kept in the INI file of settingsFilePath(), group
// [Tabulary]. Every write goes to the file at once.
#pragma once

#include <QString>

namespace tab::gui {

// The stored value of `key`, or `defaultValue` when the file, the group or the
// key is missing. Never writes. Throws Failure when the file exists but
// cannot be read.
QString ReadSetting(const QString& key, const QString& defaultValue);

// Replaces the value of `key` (creating file, group and key as needed) and
// writes the file through. The file is created owner-only (0600) before the
// first value is written and is never written through a symbolic link.
// Throws Failure when it cannot be written.
void WriteSetting(const QString& key, const QString& value);

}  // namespace tab::gui
