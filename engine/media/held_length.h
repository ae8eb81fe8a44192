// SPDX-License-Identifier: GPL-3.0-or-later
// What a file really holds, as against what its header says: a download
// stopped early keeps a header (or an MP4 index) promising the whole length.
#pragma once

struct MediaInput;

// The end of the last packet the file holds, in seconds from its start; 0
// when it cannot be told. `in` is `path` opened; its read position is kept.
double MeasuredHeldSeconds(const MediaInput& in, const char* path);

// The same from `in` alone, whose reader is left at the file's end: for an
// input whose facts are taken just before it is closed.
double MeasuredHeldSecondsOfClosingInput(const MediaInput& in);
