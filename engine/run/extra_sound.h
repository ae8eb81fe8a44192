// SPDX-License-Identifier: GPL-3.0-or-later
// Re-encoding of the sound tracks besides the main one: each is encoded with
// the job's sound settings and kept in step with the output's picture,
// silence standing in where an input lacks the track.
#pragma once

#include "job_output.h"
#include "job_plan.h"


// An output track for `in_st`'s sound, its encoder opened with the job's targets.
bool AddReencodedSound(const EncodeTargets& targets, AVFormatContext* ctx, const AVStream* in_st, ExtraTrack* track);
// A packet already placed on the output's timeline (in the encoder's time base).
void ReencodeExtraSound(JobOutput& out, InputRun& run, size_t slot, AVPacket* pkt);
// Every re-encoded sound track reaches `end_us`, the input's end in the output.
bool EndExtraSoundInput(JobOutput& out, int64_t end_us);
// After the last input: the queues and the encoders drained.
bool FinishExtraSound(JobOutput& out);
