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

// The stored value, "" when the file, section or key is missing; at most 999
// characters. A damaged file (see ReadProfileFile) is noted as unusable.
QString ReadSetting(const QString& section, const QString& key);

// Creates the file, section or key as needed; a value already stored leaves
// the file untouched. Failures go unreported: a read-only folder or a
// damaged file only means the choice is not remembered.
void WriteSetting(const QString& section, const QString& key, const QString& value);

// LANGUAGE/file when it names one of the six language files; else, noting
// the settings file as unusable when it names another, english.ini.
QString ChosenLanguageFile();

// Entry `entry` (0-5) of the language list: LANGUAGE/name<entry+1>, or the
// language's own name when that is missing or empty.
QString LanguageName(int entry);

}  // namespace i18n
