#include "private_profile.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

#include <SimpleIni.h>

#include <string>

namespace platform {
namespace {

// CSimpleIniA compares sections and keys case-insensitively.
bool LoadProfile(const QString& path, CSimpleIniA& ini)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    return ini.LoadData(data.constData(), static_cast<size_t>(data.size())) >= 0;
}

QString CutToBuffer(const QString& value, int bufferChars)
{
    const int maxChars = bufferChars > 0 ? bufferChars - 1 : 0;
    if (value.size() <= maxChars)
        return value;
    int cut = maxChars;
    // Never leave half of a surrogate pair at the end.
    if (cut > 0 && value.at(cut - 1).isHighSurrogate())
        --cut;
    return value.left(cut);
}

// A value written as "text" reads as text, which is how a value keeps
// leading or trailing spaces that are otherwise trimmed.
QString WithoutEnclosingQuotes(const QString& value)
{
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        return value.mid(1, value.size() - 2);
    return value;
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferChars,
                                const QString& path)
{
    CSimpleIniA ini;
    ini.SetUnicode(true);
    const char* value = nullptr;
    if (LoadProfile(path, ini))
        value = ini.GetValue(section.toUtf8().constData(), key.toUtf8().constData(), nullptr);
    const QString text = value ? WithoutEnclosingQuotes(QString::fromUtf8(value)) : defaultValue;
    return CutToBuffer(text, bufferChars);
}

bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& path)
{
    CSimpleIniA ini;
    ini.SetUnicode(true);
    ini.SetSpaces(false);
    if (QFile::exists(path) && !LoadProfile(path, ini))
        return false;  // unreadable: better to write nothing than to lose it
    if (ini.SetValue(section.toUtf8().constData(), key.toUtf8().constData(),
                     value.toUtf8().constData()) < 0)
        return false;

    std::string text;
    if (ini.Save(text, false) < 0)
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.data(), static_cast<qint64>(text.size()));
    return file.commit();
}

}  // namespace platform
