// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_file.h"

#include "app_directory.h"
#include "private_profile.h"
#include "unusable_files.h"

#include <algorithm>

namespace i18n {

// Every read uses a 1000-character buffer, so at most 999 characters come back.
constexpr int kReadBufferChars = 1000;

const std::array<QString, kLanguageCount>& LanguageFileNames()
{
    static const std::array<QString, kLanguageCount> names = {
        QStringLiteral("english.ini"), QStringLiteral("spanish.ini"),
        QStringLiteral("german.ini"),  QStringLiteral("french.ini"),
        QStringLiteral("italian.ini"), QStringLiteral("japanese.ini"),
    };
    return names;
}

QString SettingsFilePath()
{
    return platform::GetAppDirectory(platform::AppFiles::Settings) + QStringLiteral("/setting.ini");
}

QString ReadSetting(const QString& section, const QString& key)
{
    platform::ProfileFileState state = platform::ProfileFileState::Missing;
    const QString value = platform::GetPrivateProfileString(section, key, QString(), kReadBufferChars,
                                                            SettingsFilePath(), &state);
    if (platform::IsDamaged(state))
        NoteUnusableFile(SettingsFilePath());
    return value;
}

void WriteSetting(const QString& section, const QString& key, const QString& value)
{
    // Only a change the user makes rewrites the user's file.
    if (ReadSetting(section, key) == value)
        return;
    platform::WritePrivateProfileString(section, key, value, SettingsFilePath());
}

QString ChosenLanguageFile()
{
    const QString stored = ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"));
    const auto& files = LanguageFileNames();
    if (std::find(files.begin(), files.end(), stored) != files.end())
        return stored;
    if (!stored.isEmpty())
        NoteUnusableFile(SettingsFilePath());
    return files[0];
}

QString LanguageName(int entry)
{
    static const std::array<QString, kLanguageCount> ownNames = {
        QStringLiteral("English"),  QString::fromUtf8("Español"), QStringLiteral("Deutsch"),
        QString::fromUtf8("Français"), QStringLiteral("Italiano"), QString::fromUtf8("日本語"),
    };
    const QString stored = ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("name%1").arg(entry + 1));
    return stored.trimmed().isEmpty() ? ownNames.at(static_cast<size_t>(entry)) : stored;
}

}  // namespace i18n
