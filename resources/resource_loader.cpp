// SPDX-License-Identifier: GPL-3.0-or-later
#include "resource_loader.h"

#include <QFile>
#include <QString>

// Q_INIT_RESOURCE must be used outside any namespace. Calling it from here
// also keeps the linker from dropping the compiled resources of this library.
static void RegisterCompiledResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(morvane);
        return true;
    }();
    (void)registered;
}

namespace resources {
namespace {

QString ResourcePath(int id)
{
    return QStringLiteral(":/bitmaps/%1.png").arg(id);
}

}  // namespace

QImage LoadBitmapResource(int id)
{
    RegisterCompiledResources();
    return QImage(ResourcePath(id));
}

QIcon LoadIconResource(int id)
{
    RegisterCompiledResources();
    const QString path = ResourcePath(id);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

}  // namespace resources
