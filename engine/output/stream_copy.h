// SPDX-License-Identifier: GPL-3.0-or-later
// Direct mode's output: which muxer writes a copy of an input, and what of
// the input's streams and container travels with the packets.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}


// A new output stream carrying `in_st`'s packets: codec parameters, the
// codec tag where the container accepts it, aspect ratio, rotation and other
// side data, language and title.
AVStream* AddCopiedStream(AVFormatContext* ctx, const AVStream* in_st);

// Copied packets can only continue a stream of the same kind: another codec,
// picture size, audio format or set of codec headers would not decode.
bool CanContinueStream(const AVCodecParameters* out, const AVCodecParameters* in);

// What a stream says of itself that a re-encoded stream keeps too: its
// language, title and flags (default, forced and the like).
void CopyStreamFacts(AVStream* out, const AVStream* in);

// The container's own facts a copy keeps: title, creation time and the like.
void CopyContainerFacts(AVFormatContext* out, const AVFormatContext* in);
