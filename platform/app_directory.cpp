#include "app_directory.h"

#include "seams.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace platform {

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

QString GetAppDirectory()
{
    const auto& redirect = CurrentSeams().appDirectory;
    return redirect ? redirect() : ExecutableDirectory();
}

}  // namespace platform
