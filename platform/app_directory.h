// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// The program's files by where they are kept. In a build tree or a portable
// copy (a writable folder holding its own languages/) all of them sit beside
// the executable. An installed program reads what it ships from
// <prefix>/share/morvane and keeps what it writes per user.
enum class AppFiles {
    Program,   // the executable's folder itself
    Settings,  // setting.ini: per user $XDG_CONFIG_HOME/morvane, seeded from the shipped copy
    Cache,     // image.jpg: per user $XDG_CACHE_HOME/morvane
    Shipped,   // languages/, help pages, the shipped setting.ini
};

// The folder of `files`, without a trailing separator. Built afresh on every
// call; tests may redirect every kind to one folder through
// Seams::appDirectory.
QString GetAppDirectory(AppFiles files = AppFiles::Program);

// The same for an executable in `executableFolder`. A per-user folder is
// created when missing, and a per-user setting.ini starts as a copy of the
// shipped one.
QString ResolveAppDirectory(AppFiles files, const QString& executableFolder);

// The executable's folder as the operating system reports it.
QString ExecutableDirectory();

}  // namespace platform
