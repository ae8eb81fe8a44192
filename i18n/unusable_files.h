// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Settings and language files found damaged (not a regular file, too large,
// not text, or naming an unknown language). The program uses its defaults
// in their place and leaves them as they are; the user hears of each once.

#include <QString>
#include <QStringList>

namespace i18n {

void NoteUnusableFile(const QString& path);

// The files noted and not yet reported, each only once in the life of the process.
QStringList TakeUnusableFilesToReport();

// Forgets what was reported, so a test can open a window afresh.
void ForgetReportedUnusableFiles();

}  // namespace i18n
