// SPDX-License-Identifier: GPL-3.0-or-later
// Direct mode's packet path: each input's packets shifted onto the output's
// timeline, its hidden lead-in kept hidden, its sound meeting the next input
// without overlap or gap.
#pragma once

#include "job_output.h"

// Copies one packet of the input's selected video or audio stream.
int CopyVideoPacket(JobOutput& out, InputRun& run, AVPacket* pkt);
int CopyAudioPacket(JobOutput& out, InputRun& run, AVPacket* pkt);

// After the input's last packet: sound that waited for a picture, and in a
// join the sound held back so that it ends with the input's picture.
void FinishDirectInput(JobOutput& out, InputRun& run);

// One frame of `st` in its time base, for packets without a duration.
int64_t FallbackDuration(const AVStream* st);

// The picture `pkt`, as read from the input, would be shown before the end
// of the pictures written so far: it fills a gap among them.
bool ShownBeforeWrittenEnd(const JobOutput& out, const InputRun& run, const AVPacket* pkt);
