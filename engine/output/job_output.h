// SPDX-License-Identifier: GPL-3.0-or-later
// State the worker keeps for the whole job, and for one input: the output
// muxer with its streams and clocks, the opened input with its time shift.
#pragma once

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "av_handles.h"
#include "h264_entry.h"
#include "lead_cues.h"
#include "media_input.h"
#include "packet_timing.h"
#include "output_file.h"


// Where one output stream stands, in its own time base.
struct StreamClock {
    int64_t first_dts = AV_NOPTS_VALUE;
    int64_t first_pts = AV_NOPTS_VALUE;
    int64_t last_dts = AV_NOPTS_VALUE;
    int64_t next_dts = 0;  // the running clock: decoding time of the next packet
    int64_t end = 0;       // presentation end of everything written

    // The written time: how far the stream has been written in decoding
    // order, so pictures reordered behind a later one are never cut off.
    // Counted from the output's start: decoding times before it (reordered
    // pictures, an edit list's hidden lead-in) come before anything shown.
    double Seconds(const AVStream* st) const
    {
        return first_dts == AV_NOPTS_VALUE ? 0.0
                                           : (next_dts - std::max<int64_t>(first_dts, 0)) * av_q2d(st->time_base);
    }
    // Every picture up to the presentation end is written: none reordered
    // ahead of the decoding clock by up to `reorder` still waits for the
    // ones before it.
    bool CaughtUp(int64_t reorder) const { return end <= next_dts + reorder; }
    double EndSeconds(const AVStream* st) const { return end * av_q2d(st->time_base); }
};

class Reencoder;  // indirect mode's encoders, scaler, resampler and queues

// An output stream for a track besides the main picture and sound.
struct ExtraTrack {
    AVStream* stream = nullptr;
    StreamClock clock;
    int kind = 0;  // AVMediaType
    CodecContextPtr encoder;  // subtitles converted to the container's text format, or sound re-encoded
    AudioFifoPtr fifo;        // re-encoded sound: samples waiting for a whole encoder frame
    int64_t samples = 0;      // re-encoded sound: samples queued so far, silence included
};

// A chapter on the output's timeline.
struct ChapterCopy {
    int64_t start_us = 0;
    int64_t end_us = 0;
    DictionaryPtr metadata;
};

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
    std::vector<ExtraTrack> extras;        // in the order they were added
    std::vector<ChapterCopy> chapters;     // of the inputs written so far
    int64_t video_packets_written = 0;     // of those, pictures
    int64_t video_ticks_written = 0;       // their durations summed, in the video's time base
    // The last sound packet of a join's input, held until the next input's
    // first: a packet of that one's leading into its picture takes its place.
    PacketPtr sound_tail;

    // A write to the file failed: what follows would only widen the hole.
    bool WriteFailed() const { return file && file->error() != 0; }

    // The end of everything written.
    int64_t EndMicroseconds() const;
    // Where the next input of a direct join starts: the picture's end, or
    // the sound's when there is no picture. The sound meets it within a
    // fraction of one audio frame.
    int64_t SeamMicroseconds() const;
    // Where the picture ends on the clock its sound keeps to, in the video
    // stream's ticks: its presentation end, or where the container times
    // pictures by their place, the place after the last one (a decoder
    // shows them later by its delay, as it does the source's).
    int64_t PictureEnd() const;
    // How far the muxer moves every packet later so that none is timed
    // before 0, in a container that has no negative times: what it adds to
    // the packets, chapters given to it do not get by themselves.
    int64_t MuxerShiftMicroseconds() const;
};

struct InputRun {
    MediaInput in;
    int index = 0;
    bool failed = false;
    int read_result = 0;        // how reading ended
    int av_error = 0;           // the libraries' answer to the step that failed the input
    bool cut_complete = false;  // the cut reached its length
    double cut_start_s = 0;  // where the user asked the cut to start
    double measured_held_s = 0;  // what the file was found to hold (0: not measured)
    // Each input is shifted so that its first timestamp lands at `offset_us`
    // of the output; origin is that first timestamp, one for all its streams.
    int64_t origin_us = AV_NOPTS_VALUE;
    int64_t offset_us = 0;
    std::deque<PacketPtr> waiting;  // audio read before the first video packet
    int pictures_past_cut = 0;      // read while the sound catches up
    double video_before_s = 0;  // the output's written time when this input began
    double audio_before_s = 0;
    bool pictures_missing = true;   // at the cut's end: a written picture still waits for ones shown before it

    // Direct mode only.
    bool continues_output = false;  // pictures of earlier inputs are written
    DecodeTimeFiller video_dts;
    DecodeTimeFiller audio_dts;
    std::deque<PacketPtr> lead_in;     // hidden pictures before the first shown one (joins)
    bool skip_to_key = false;          // a lead-in that could not be kept hidden was dropped
    int64_t first_key_pts = AV_NOPTS_VALUE;  // input time base: the key picture the input is entered at
    int64_t audio_shift = AV_NOPTS_VALUE;  // output time base; set by the input's first sound
    bool trim_sound_to_picture = false;    // a join: the input's sound ends with its picture
    std::deque<PacketPtr> held_audio;  // in the output's time base, past the picture so far
    std::vector<PacketPtr> spare_packets;  // written, emptied, ready to hold the next
    std::unique_ptr<H264EntryRewriter> h264_entry;  // entered at a key picture that is not an IDR

    // Tracks besides the main ones (direct mode).
    std::vector<int> extra_slot;  // per input stream: index into JobOutput::extras, -1 none
    std::deque<PacketPtr> waiting_extra;  // read before the origin was known
    std::vector<std::deque<PacketPtr>> held_extra;  // per slot: sound past the picture so far (joins)
    int64_t cut_length_us = 0;  // a cut: its span; extra tracks end there
    std::vector<bool> extra_keyed;  // per slot: a further picture track has reached a key picture
    std::vector<CodecContextPtr> extra_decoders;  // per slot: subtitles to convert, sound to re-encode
    std::vector<ResamplerPtr> extra_resamplers;   // per slot: sound to re-encode
    std::vector<int64_t> extra_sound_shift;       // per slot: copied sound's move at the seam, as audio_shift
    bool lead_cues_read = false;  // the cues on screen at the origin, read once it is known
    LeadCues lead_cues;
};

// Writes a packet already in `out_st`'s time base at the stream's clock.
int WriteOutputPacket(JobOutput& out, AVPacket* pkt, AVStream* out_st, StreamClock& clock);
// Writes the held last sound packet of the input before, if any.
int WriteSoundTail(JobOutput& out);
