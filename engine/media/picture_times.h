// SPDX-License-Identifier: GPL-3.0-or-later
// Reading an input's packets with every picture's presentation time. The
// program stream demuxer leaves it out on pictures of MPEG-1/2 and MPEG-4
// Part 2 that a pack holds behind another: a B picture is shown when it is
// decoded, but an I or P picture only when the next one is decoded, so those
// are read one reference picture ahead.
#pragma once

#include <cstdint>
#include <deque>

#include "av_handles.h"
#include "packed_pictures.h"
#include "steady_times.h"

// The kind of picture a packet of MPEG-1/2 or MPEG-4 Part 2 holds.
enum class PictureKind { Unknown, Reference, Bidirectional };
PictureKind KindOfPicture(int codec_id, const uint8_t* data, size_t size);

// The stream's container keeps no time its key pictures are shown at (AVI
// with B-pictures): only reading its packets (PictureTimeReader) tells it.
bool ShownTimesOnlyByReading(const AVFormatContext* format, const AVStream* st);

// In the classic one-level reorder of these codecs a B picture is shown
// when decoded, and an I or P picture when the next I or P is decoded.
class PictureTimeReader {
public:
    // `video_index`: the stream whose times are completed, -1 none. With
    // `unpack`, its MPEG-4 pictures packed as DivX and Xvid store them are
    // read one a packet (PackedPictureUnpacker) before they are timed;
    // without, they stay packed, and a placeholder is timed as the B-picture
    // whose place it holds and loses the key mark Xvid gives it.
    PictureTimeReader(AVFormatContext* format, int video_index, bool unpack = false);
    // As av_read_frame: 0 with a packet, or the demuxer's error or EOF
    // once every packet read ahead has been returned. Times far from their
    // neighbours are mended first (SteadyTimeReader).
    int Read(AVPacket* pkt);

private:
    int ReadOne(AVPacket* pkt);
    int ReadAhead();
    void Complete(AVPacket* pkt);
    void ReleasePending(int64_t shown_at);

    AVFormatContext* format_;
    SteadyTimeReader steady_;  // damaged times mended before they are completed
    int video_index_ = -1;
    bool fills_ = false;
    bool packed_ = false;  // packed pictures read as stored
    std::unique_ptr<PackedPictureUnpacker> unpacker_;
    std::deque<PacketPtr> queue_;  // read ahead, in the order read
    AVPacket* pending_ = nullptr;  // in queue_: a reference picture still without its time
    int64_t next_dts_ = AV_NOPTS_VALUE;  // where the last picture read ends
    int end_ = 0;                        // how reading ended, 0 while it goes on
};
