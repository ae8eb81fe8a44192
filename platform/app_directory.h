#pragma once

#include <QString>

namespace platform {

// The running executable's folder, without a trailing separator. Built afresh
// on every call; tests may redirect it through Seams::appDirectory.
QString GetAppDirectory();

// The executable's folder as the operating system reports it.
QString ExecutableDirectory();

}  // namespace platform
