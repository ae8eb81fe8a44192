// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Language files: INI files in the languages folder beside the executable,
// one per language, with the same sections and keys in each.

#include <QString>

namespace i18n {

class LanguageFile {
public:
    // GetAppDirectory(Shipped) + "/languages/" + fileName. An empty name gives the
    // folder itself, which reads as empty texts.
    static QString PathOf(const QString& fileName);

    // The text of [section] key, "" when the file, section or key is missing;
    // at most 999 characters, exactly as stored.
    static QString ReadText(const QString& fileName, const QString& section, const QString& key);
};

}  // namespace i18n
