// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// setting.ini beside the executable (or per user for an installed program):
// the language in use, the six language names of the main window's list and
// the last output folder.

#include <QString>

#include <array>

namespace i18n {

// The language list is fixed; entry i shows LANGUAGE/name<i+1> and uses this file.
inline constexpr int kLanguageCount = 6;
const std::array<QString, kLanguageCount>& LanguageFileNames();

// GetAppDirectory(Settings) + "/setting.ini", built afresh on every call.
QString SettingsFilePath();

// The stored value, "" when the file, section or key is missing; at most 999 characters.
QString ReadSetting(const QString& section, const QString& key);

// Creates the file, section or key as needed. Failures go unreported: a
// read-only folder only means the choice is not remembered.
void WriteSetting(const QString& section, const QString& key, const QString& value);

}  // namespace i18n
