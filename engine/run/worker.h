// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <thread>

struct ConversionJob;

// Runs one cut or join described by `job` to its end: progress, per-input
// status and the current input are written back into the record.
void ConversionWorker(ConversionJob* job);

// The worker on a thread of its own; the caller joins it before the record
// is freed.
std::thread StartConversionWorker(ConversionJob* job);
