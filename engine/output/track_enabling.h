// SPDX-License-Identifier: GPL-3.0-or-later
// The MP4 and QuickTime muxers enable the first track of each kind when the
// input marked none of them default, and a player shows an enabled subtitle
// track unasked. The written file's subtitle tracks the input did not mark
// default are disabled again.
#pragma once

struct AVFormatContext;
class OutputFile;

// After the trailer of `ctx`, written into `file`. False when the file's
// boxes cannot be read or a flag cannot be written back.
bool KeepUnmarkedSubtitlesOff(const AVFormatContext* ctx, OutputFile* file);
