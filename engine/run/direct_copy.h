// SPDX-License-Identifier: GPL-3.0-or-later
// Direct mode's packet path: each input's packets shifted onto the output's
// timeline, its hidden lead-in kept hidden, its sound meeting the next input
// without overlap or gap.
#pragma once

#include <vector>

#include "job_output.h"

// Copies one packet of the input's selected video or audio stream.
int CopyVideoPacket(JobOutput& out, InputRun& run, AVPacket* pkt);
int CopyAudioPacket(JobOutput& out, InputRun& run, AVPacket* pkt);

// After the input's last packet: sound that waited for a picture, and in a
// join the sound held back so that it ends with the input's picture.
void FinishDirectInput(JobOutput& out, InputRun& run);

// Where an input's sound meets the sound already written on its track. Its
// own start, relative to its own first picture, is where it belongs: a
// first packet mostly overlapping what is written is dropped (false);
// otherwise it goes onto the nearest whole packet after the written sound's
// end, `*shift` (set by the input's first packet, AV_NOPTS_VALUE until
// then) moves it and all after it, and `*repeats` says how many packets the
// gap before it holds. Containers that time sound by counting packets (AVI)
// cannot keep a gap, and moving every input's sound onto the end before it
// would carry each one's shortfall into the next: the sound stays within
// half a packet of its picture at any seam. Output time base.
bool PlaceSoundAtSeam(const StreamClock& written, const AVPacket* pkt, int64_t* shift, int64_t* repeats);
// Copies of `first` (a sound packet that needs nothing before it to decode)
// that fill `repeats` packets before it.
std::vector<PacketPtr> SeamFill(const AVPacket* first, int64_t repeats);

// One frame of `st` in its time base, for packets without a duration.
int64_t FallbackDuration(const AVStream* st);

// The picture `pkt`, as read from the input, would be shown before the end
// of the pictures written so far: it fills a gap among them.
bool ShownBeforeWrittenEnd(const JobOutput& out, const InputRun& run, const AVPacket* pkt);
