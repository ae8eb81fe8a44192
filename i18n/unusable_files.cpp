// SPDX-License-Identifier: GPL-3.0-or-later
#include "unusable_files.h"

#include <QSet>

namespace i18n {
namespace {

// Only the window's thread reads settings and language files.
QSet<QString> g_reported;
QStringList g_pending;

}  // namespace

void NoteUnusableFile(const QString& path)
{
    if (!g_reported.contains(path) && !g_pending.contains(path))
        g_pending << path;
}

QStringList TakeUnusableFilesToReport()
{
    for (const QString& path : g_pending)
        g_reported.insert(path);
    QStringList taken;
    taken.swap(g_pending);
    return taken;
}

void ForgetReportedUnusableFiles()
{
    g_reported.clear();
    g_pending.clear();
}

}  // namespace i18n
