// SPDX-License-Identifier: GPL-3.0-or-later
#include "output_folder.h"

#include "language_file.h"
#include "seams.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

namespace dialogs {
namespace {

QString CurrentLanguageText(const char* section, const char* key)
{
    return i18n::LanguageFile::ReadText(i18n::ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file")),
                                        QString::fromLatin1(section), QString::fromLatin1(key));
}

QString ProgramName() { return CurrentLanguageText("APPLICATION", "name"); }

void Tell(QWidget* owner, const QString& text)
{
    platform::MessageBoxRequest request;
    request.owner = owner;
    request.text = text;
    request.caption = ProgramName();
    platform::ShowMessageBox(request);
}

bool IsFolder(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// Creates the probe file when it is absent and removes only what it created;
// a file of that name that was already there is opened (never truncated) and
// kept, since it belongs to the user.
bool CanWriteProbe(const QString& folder)
{
    QFile probe(folder + QLatin1Char('/') + kProbeFileName);
    if (probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        probe.close();
        probe.remove();
        return true;
    }
    if (!probe.exists())
        return false;
    return probe.open(QIODevice::WriteOnly | QIODevice::Append);
}

}  // namespace

const QString kProbeFileName = QStringLiteral("jlewhqlhqwenqfwk.mp4");

void BrowseOutputFolder(QWidget* dialog, QLineEdit* field)
{
    for (;;) {
        // The picker opens where the field points, and has no owner window,
        // like the one the template names.
        platform::SetBrowseFolder(field->text());
        const QString picked = platform::BrowseForFolder(nullptr, CurrentLanguageText("JIEMIAN", "xzscml"));
        if (picked.isEmpty())
            return;
        if (IsFolder(picked)) {
            field->setText(picked);
            i18n::WriteSetting(QStringLiteral("PATH"), QStringLiteral("name"), picked);
            return;
        }
        platform::MessageBoxRequest request;
        request.owner = dialog;
        request.text = CurrentLanguageText("TISHI", "mlwx");
        platform::ShowMessageBox(request);
    }
}

QString FormatWord(const QString& extensionOrPath)
{
    const QString name = extensionOrPath.mid(extensionOrPath.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? name : name.mid(dot + 1)).toUpper();
}

bool CheckOutputFolder(QWidget* dialog, const QString& folder, const QString& missingText,
                       const QString& format)
{
    if (!IsFolder(folder)) {
        Tell(dialog, missingText);
        return false;
    }
    if (!CanWriteProbe(folder)) {
        Tell(nullptr, CurrentLanguageText("TISHI", "bncjgs").arg(format));
        return false;
    }
    return true;
}

}  // namespace dialogs
