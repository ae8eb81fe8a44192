// SPDX-License-Identifier: GPL-3.0-or-later
#include "language_file.h"

#include "app_directory.h"
#include "private_profile.h"
#include "settings_file.h"
#include "unusable_files.h"

#include <QFile>

#include <algorithm>

namespace i18n {

constexpr int kReadBufferChars = 1000;

QString LanguageFile::PathOf(const QString& fileName)
{
    return platform::GetAppDirectory(platform::AppFiles::Shipped) + QStringLiteral("/languages/") + fileName;
}

namespace {

bool IsLanguageFile(const QString& fileName)
{
    const auto& files = LanguageFileNames();
    return std::find(files.begin(), files.end(), fileName) != files.end();
}

const QByteArray& BuiltInEnglish()
{
    static const QByteArray data = [] {
        QFile file(QStringLiteral(":/morvane/english.ini"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return data;
}

}  // namespace

QString LanguageFile::BuiltInText(const QString& section, const QString& key)
{
    return platform::ProfileStringFromData(BuiltInEnglish(), section, key, QString(), kReadBufferChars);
}

QString LanguageFile::ReadText(const QString& fileName, const QString& section, const QString& key)
{
    // Only the six files are read: a name from a damaged setting.ini may point anywhere.
    if (IsLanguageFile(fileName)) {
        const QString path = PathOf(fileName);
        platform::ProfileFileState state = platform::ProfileFileState::Missing;
        const QString text = platform::GetPrivateProfileString(section, key, QString(), kReadBufferChars, path, &state);
        if (platform::IsDamaged(state))
            NoteUnusableFile(path);
        if (!text.trimmed().isEmpty())
            return text;
    }
    return BuiltInText(section, key);
}

}  // namespace i18n
