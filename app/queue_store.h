// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The queue on disk: a small JSON file in the settings folder, so the
// queue outlives the window. A job that was running when the program ended
// comes back as interrupted, never to run again unasked.

#include "queued_job.h"

#include <QByteArray>
#include <QString>

#include <vector>

QByteArray QueueToJson(const std::vector<QueuedJob>& jobs);
// False for text that is not a queue; entries that make no sense are left out.
bool QueueFromJson(const QByteArray& json, std::vector<QueuedJob>* jobs);

// The file the window keeps its queue in.
QString QueueFilePath();
// Written whole beside the old file, then put in its place.
bool SaveQueue(const QString& path, const std::vector<QueuedJob>& jobs);
// A missing file is an empty queue; false for a file that cannot be read as one.
bool LoadQueue(const QString& path, std::vector<QueuedJob>* jobs);
