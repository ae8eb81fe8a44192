// State the worker keeps for the whole job, and for one input: the output
// muxer with its streams and clocks, the opened input with its time shift.
#pragma once

#include <deque>
#include <memory>

#include "av_handles.h"
#include "media_input.h"
#include "output_file.h"

struct ConversionJob;

// Where one output stream stands, in its own time base.
struct StreamClock {
    int64_t first_dts = AV_NOPTS_VALUE;
    int64_t last_dts = AV_NOPTS_VALUE;
    int64_t next_dts = 0;  // the running clock: decoding time of the next packet
    int64_t end = 0;       // presentation end of everything written

    // The written time: how far the stream has been written in decoding
    // order, so pictures reordered behind a later one are never cut off.
    double Seconds(const AVStream* st) const
    {
        return first_dts == AV_NOPTS_VALUE ? 0.0 : (next_dts - first_dts) * av_q2d(st->time_base);
    }
    double EndSeconds(const AVStream* st) const { return end * av_q2d(st->time_base); }
};

class Reencoder;  // indirect mode's encoders, scaler, resampler and queues

struct JobOutput {
    std::unique_ptr<OutputFile> file;  // outlives ctx, which writes into it
    OutputContextPtr ctx;
    bool header_written = false;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    StreamClock video_clock;
    StreamClock audio_clock;
    std::unique_ptr<Reencoder> reencoder;  // indirect mode only
    int64_t packets_written = 0;           // accepted by the muxer

    // A write to the file failed: what follows would only widen the hole.
    bool WriteFailed() const { return file && file->error() != 0; }

    // Where the next input of a join starts: the end of everything written.
    int64_t EndMicroseconds() const;
};

struct InputRun {
    MediaInput in;
    int index = 0;
    bool failed = false;
    int read_result = 0;        // how reading ended
    bool cut_complete = false;  // the cut reached its length
    double cut_start_s = 0;  // where the user asked the cut to start
    // Each input is shifted so that its first timestamp lands at `offset_us`
    // of the output; origin is that first timestamp, one for all its streams.
    int64_t origin_us = AV_NOPTS_VALUE;
    int64_t offset_us = 0;
    std::deque<PacketPtr> waiting;  // audio read before the first video packet
    int pictures_past_cut = 0;      // read while the sound catches up
};

// Writes a packet of input stream `in_st` to output stream `out_st`, shifting
// its timestamps by the input's origin and offset. Takes the packet's data.
int WriteShiftedPacket(JobOutput& out, InputRun& run, AVPacket* pkt, const AVStream* in_st,
                       AVStream* out_st, StreamClock& clock);
// Writes a packet already in `out_st`'s time base at the stream's clock.
int WriteOutputPacket(JobOutput& out, AVPacket* pkt, AVStream* out_st, StreamClock& clock);
