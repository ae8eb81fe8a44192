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

    // The text of [section] key, at most 999 characters, exactly as stored.
    // Where the file is none of the six, missing or damaged, or lacks the
    // text, the English text built into the program; "" only for a key that
    // no language has. A damaged file is noted as unusable.
    static QString ReadText(const QString& fileName, const QString& section, const QString& key);

    // The English text built into the program, "" for a key it lacks.
    static QString BuiltInText(const QString& section, const QString& key);
};

}  // namespace i18n
