// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_file.h"

#include "app_directory.h"
#include "private_profile.h"

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
    return platform::GetPrivateProfileString(section, key, QString(), kReadBufferChars,
                                             SettingsFilePath());
}

void WriteSetting(const QString& section, const QString& key, const QString& value)
{
    platform::WritePrivateProfileString(section, key, value, SettingsFilePath());
}

}  // namespace i18n
