// SPDX-License-Identifier: GPL-3.0-or-later
#include "seams.h"

#include "app_directory.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <QWidget>

namespace platform {
namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

void ShowQtMessageBox(const MessageBoxRequest& request)
{
    QMessageBox box(ToQtIcon(request.icon), MessageCaption(request), request.text, QMessageBox::Ok, request.owner);
    box.setWindowModality(request.owner ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

bool HasUrlScheme(const QString& target)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(target).hasMatch();
}

// A relative path means a file shipped with the program (beside the
// executable, or in the installed data folder); the working folder of a
// desktop program is arbitrary.
QString ResolveLocalPath(const QString& target)
{
    if (QDir::isAbsolutePath(target))
        return target;
    return GetAppDirectory(AppFiles::Shipped) + QLatin1Char('/') + target;
}

int OpenWithDesktop(const QString& target)
{
    if (target.isEmpty())
        return kShellFileNotFound;
    QUrl url;
    if (HasUrlScheme(target)) {
        url = QUrl(target);
    } else {
        const QFileInfo info(ResolveLocalPath(target));
        if (!info.exists())
            return info.dir().exists() ? kShellFileNotFound : kShellPathNotFound;
        url = QUrl::fromLocalFile(info.absoluteFilePath());
    }
    return QDesktopServices::openUrl(url) ? kShellSuccess : kShellNoAssociation;
}

QString ChooseFolder(QWidget* owner, const QString& title)
{
    const QString folder = BrowseFolder();
    return QFileDialog::getExistingDirectory(owner, title,
                                             !folder.isEmpty() && QDir(folder).exists() ? folder : QString());
}

QStringList ChooseFiles(QWidget* owner, const QString& windowsFilter)
{
    const QString folder = OpenFolder();
    return QFileDialog::getOpenFileNames(owner, QString(), !folder.isEmpty() && QDir(folder).exists() ? folder : QString(),
                                         ToQtFileFilter(windowsFilter));
}

bool AskQtYesNo(const MessageBoxRequest& request)
{
    QMessageBox box(QMessageBox::Question, MessageCaption(request), request.text, QMessageBox::Yes | QMessageBox::No,
                    request.owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace

QString MessageCaption(const MessageBoxRequest& request)
{
    if (!request.caption.isEmpty())
        return request.caption;
    // The program sets no display name (the platform would append it to every
    // window title), so the owner's window names the program instead.
    if (request.owner && !request.owner->window()->windowTitle().isEmpty())
        return request.owner->window()->windowTitle();
    return QApplication::applicationName();
}

Seams DefaultSeams()
{
    Seams seams;
    seams.messageBox = ShowQtMessageBox;
    seams.shellOpen = OpenWithDesktop;
    seams.startProgram = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    seams.getOpenFileNames = ChooseFiles;
    seams.browseForFolder = ChooseFolder;
    seams.askYesNo = AskQtYesNo;
    return seams;
}

Seams& CurrentSeams()
{
    static Seams seams = DefaultSeams();
    return seams;
}

void ShowMessageBox(const MessageBoxRequest& request)
{
    if (CurrentSeams().messageBox)
        CurrentSeams().messageBox(request);
}

bool AskYesNo(const MessageBoxRequest& request)
{
    return CurrentSeams().askYesNo && CurrentSeams().askYesNo(request);
}

int ShellOpen(const QString& target)
{
    return CurrentSeams().shellOpen ? CurrentSeams().shellOpen(target) : kShellNoAssociation;
}

bool StartProgram(const QString& program, const QStringList& arguments)
{
    return CurrentSeams().startProgram && CurrentSeams().startProgram(program, arguments);
}

namespace {
QString& OpenFolderStore()
{
    static QString folder;
    return folder;
}
}  // namespace

void SetOpenFolder(const QString& folder) { OpenFolderStore() = folder; }

namespace {
QString& BrowseFolderStore()
{
    static QString folder;
    return folder;
}
}  // namespace

void SetBrowseFolder(const QString& folder) { BrowseFolderStore() = folder; }

QString BrowseFolder() { return BrowseFolderStore(); }

QString OpenFolder() { return OpenFolderStore(); }

QStringList GetOpenFileNames(QWidget* owner, const QString& windowsFilter)
{
    return CurrentSeams().getOpenFileNames ? CurrentSeams().getOpenFileNames(owner, windowsFilter)
                                           : QStringList();
}

QString BrowseForFolder(QWidget* owner, const QString& title)
{
    return CurrentSeams().browseForFolder ? CurrentSeams().browseForFolder(owner, title) : QString();
}

QString ToQtFileFilter(const QString& windowsFilter)
{
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            continue;
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern.trimmed() == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace platform
