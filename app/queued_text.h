// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window says of a written-down job, in the current language:
// its state, its mode, why it did not end done.

#include "queued_job.h"

#include <QString>

namespace queued_text {

QString StateText(QueuedState state);
// "Cut, direct", "Cut, exact", "Join, re-encoded (.mkv)".
QString ModeText(const QueuedJob& job);
// Why the job did not end done; "" when it did.
QString OutcomeText(const QueuedOutcome& outcome);
// Why it did not end done, or what the user should know of how it was cut; "" for neither.
QString ReasonText(const QueuedJob& job);
// The file's name after its folder.
QString FileName(const std::string& path);
// The file's name without its folder and its last extension.
QString TitleOf(const QString& path);

}  // namespace queued_text
