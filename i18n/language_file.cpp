// SPDX-License-Identifier: GPL-3.0-or-later
#include "language_file.h"

#include "app_directory.h"
#include "private_profile.h"

namespace i18n {

constexpr int kReadBufferChars = 1000;

QString LanguageFile::PathOf(const QString& fileName)
{
    return platform::GetAppDirectory(platform::AppFiles::Shipped) + QStringLiteral("/languages/") + fileName;
}

QString LanguageFile::ReadText(const QString& fileName, const QString& section, const QString& key)
{
    return platform::GetPrivateProfileString(section, key, QString(), kReadBufferChars,
                                             PathOf(fileName));
}

}  // namespace i18n
