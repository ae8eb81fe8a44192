// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_directory.h"

#include "seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace platform {
namespace {

const QString kSettingsName = QStringLiteral("setting.ini");

// The executable carries its own files when languages/ sits beside it.
bool ShipsBesideExecutable(const QString& executableFolder)
{
    return QFileInfo(executableFolder + QStringLiteral("/languages")).isDir();
}

QString ShippedFolder(const QString& executableFolder)
{
    if (ShipsBesideExecutable(executableFolder))
        return executableFolder;
    const QString installed = QDir::cleanPath(executableFolder + QStringLiteral("/../share/morvane"));
    return QFileInfo(installed).isDir() ? installed : executableFolder;
}

// Writability alone is not enough: root may write to /usr/bin, and an
// install into a private prefix has a writable bin/ too.
bool KeepsEverythingBeside(const QString& executableFolder)
{
    return ShipsBesideExecutable(executableFolder) && QFileInfo(executableFolder).isWritable();
}

// <base>/morvane, created when missing; empty when the base is unknown.
QString PerUserFolder(QStandardPaths::StandardLocation base)
{
    const QString root = QStandardPaths::writableLocation(base);
    if (root.isEmpty())
        return QString();
    const QString folder = root + QStringLiteral("/morvane");
    QDir().mkpath(folder);
    return folder;
}

// The first start finds the shipped language list and default language.
void SeedSettings(const QString& folder, const QString& shippedFolder)
{
    const QString target = folder + QLatin1Char('/') + kSettingsName;
    const QString shipped = shippedFolder + QLatin1Char('/') + kSettingsName;
    if (QFileInfo::exists(target) || !QFileInfo::exists(shipped))
        return;
    // The shipped copy may be read-only; the user's copy must take writes.
    if (QFile::copy(shipped, target))
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
}

}  // namespace

QString ExecutableDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Before the application object exists, ask the kernel.
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return QString();
    return QFileInfo(QString::fromStdString(exe.string())).absolutePath();
}

QString ResolveAppDirectory(AppFiles files, const QString& executableFolder)
{
    switch (files) {
    case AppFiles::Program:
        return executableFolder;
    case AppFiles::Shipped:
        return ShippedFolder(executableFolder);
    case AppFiles::Settings:
    case AppFiles::Cache:
        break;
    }
    if (KeepsEverythingBeside(executableFolder))
        return executableFolder;
    if (files == AppFiles::Cache) {
        const QString cache = PerUserFolder(QStandardPaths::GenericCacheLocation);
        return cache.isEmpty() ? executableFolder : cache;
    }
    const QString config = PerUserFolder(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        return executableFolder;
    SeedSettings(config, ShippedFolder(executableFolder));
    return config;
}

QString GetAppDirectory(AppFiles files)
{
    const auto& redirect = CurrentSeams().appDirectory;
    return redirect ? redirect() : ResolveAppDirectory(files, ExecutableDirectory());
}

}  // namespace platform
