// SPDX-License-Identifier: GPL-3.0-or-later
// Opening an input the way the probe, the worker and the preview all do:
// the same stream selection, the same decoders, the same frame-rate rule.
#pragma once

#include <atomic>
#include <cstdint>

#include "av_handles.h"
#include "seek.h"


// Probe result codes.
constexpr int kProbeOk = 0;
constexpr int kProbeOpenFailed = -1;
constexpr int kProbeNoStreamInfo = -2;
constexpr int kProbeNoVideoDecoder = -4;
constexpr int kProbeVideoDecoderFailed = -5;
constexpr int kProbeNoSuchFile = -6;
constexpr int kProbeNotAFile = -7;  // a folder, FIFO, socket or character device
constexpr int kProbeUnreadable = -8;  // no permission to read it
// A playlist, file list, image pattern or stream description: it names
// other files or addresses to read, and only single media files are read.
constexpr int kProbeNotSingleMedia = -9;
// The process may open no more files (EMFILE, ENFILE): the file itself may be fine.
constexpr int kProbeTooManyOpen = -10;

struct MediaInput {
    InputContextPtr format;
    CodecContextPtr video_dec;  // opened decoder of the selected video stream
    CodecContextPtr audio_dec;  // stream parameters; opened when a decoder exists
    bool audio_decoder_open = false;
    int video_index = -1;
    int audio_index = -1;
    int open_error = 0;  // a failed open: what the libraries answered (AVERROR), 0 none

    AVStream* VideoStream() const { return video_index >= 0 ? format->streams[video_index] : nullptr; }
    AVStream* AudioStream() const { return audio_index >= 0 ? format->streams[audio_index] : nullptr; }
};

// The main picture and sound: the ones the file marks as default, the last
// of each kind where none is marked; cover art is never the picture.
void SelectStreams(const AVFormatContext* format, int* video_index, int* audio_index);

// Decoding threads of a re-encode: one a core and one more, so that a core
// whose thread waits on another picture's rows still has a picture to
// decode; at most 8, as each holds pictures of its own.
int ReencodeDecoderThreads();

struct MediaInputOptions {
    int decoder_threads = 1;
    int thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    bool open_audio = true;  // false leaves audio_dec empty and audio_index set
    // Asked before every blocking read: a non-zero answer ends it at once.
    AVIOInterruptCB interrupt = {nullptr, nullptr};
};

// Asked by the libraries before each blocking read or open, so a stop (the
// job's `cancel` flag set) is never stuck behind a stalled input or output;
// null: never interrupted.
AVIOInterruptCB CancelCallback(const std::atomic<uint8_t>* cancel);

// kProbeOk for a regular file or a block device, else why it cannot be read.
int CheckInputKind(const char* path);

// What OpenLocalFormat returns for a file whose demuxer would read other
// files or addresses (kProbeNotSingleMedia).
constexpr int kNotSingleMediaError = FFERRTAG('S', 'N', 'G', 'L');

// Opens the local file `path` as a media input: never as a protocol address
// (a file named "pipe:0" or "tcp:x.mp4" is that file), only by the demuxer
// of a single media file, and the demuxer may open no other file. `*ctx`
// may be null or an allocated context (its interrupt callback is used).
// Returns avformat_open_input's code, or kNotSingleMediaError.
int OpenLocalFormat(AVFormatContext** ctx, const char* path);

// CheckInputKind, then OpenLocalFormat with `interrupt`: the one way a media
// file is opened. kProbeOk with `*format` set, else why not (kProbeNotSingleMedia
// for a playlist or the like); `av_error`, when given, gets the libraries' answer.
int OpenCheckedInput(const char* path, AVIOInterruptCB interrupt, InputContextPtr* format,
                     int* av_error = nullptr);

// True for the demuxers of single media files: not a playlist, file list,
// manifest, image pattern, stream description or device.
bool IsSingleMediaDemuxer(const AVInputFormat* format);

// Media files opened so far by this process (calls of OpenLocalFormat), so
// a test can tell how often a job reads its inputs.
long long MediaFileOpenCount();

// A decoder for `st` with its parameters and time base, opened; null when
// there is none or it cannot be opened.
CodecContextPtr OpenStreamDecoder(const AVStream* st, int threads = 1);

// Opens `path` for reading, selects the streams and opens the decoders.
// Returns one of the probe codes; on failure `in` holds nothing open.
int OpenMediaInput(const char* path, MediaInput& in, const MediaInputOptions& options);
int OpenMediaInput(const char* path, MediaInput& in, int decoder_threads = 1);
// The same for a preview: its picture only, decoded by slice threads by
// default, as frame threads would each want a packet before the first
// picture comes out (a decoder that goes on decoding gains by them).
int OpenPreviewInput(const char* path, MediaInput& in, int thread_type = FF_THREAD_SLICE);

// Makes `in`, opened by the probe, what OpenMediaInput with `options` would
// have opened: the picture's decoder with their threads, the sound's only
// when asked for. Returns one of the probe codes.
int AdaptMediaInput(MediaInput& in, const MediaInputOptions& options);

// Above this many pictures a second a stream's rate is a time base written
// in its place (editors and phone apps write 90000/1 on variable-rate clips).
constexpr double kMaxPlausibleFps = 300.0;

// The stream's picture rate a player would see: its average rate, else its
// base rate; {0, 1} when neither is plausible.
AVRational PlausibleFrameRate(const AVStream* st);

// A base rate above kMaxPlausibleFps is replaced by the average rate where
// that is plausible, so that what follows (frame durations, the end of a
// cut, the rate a re-encode keeps) counts real pictures; an implausible
// average rate becomes unknown. Called for the selected video stream.
void DropImplausibleFrameRates(AVStream* st);

// The base frame rate of a stream as the window shows it: whole pictures a
// second (truncated), and the exact rate.
struct SourceRate {
    double fps = 0;
    int num = 0, den = 0;
};
// The base frame rate of `stream`, correcting a rate above 1000 fps to
// num/1001 in the stream itself.
SourceRate ApplyFrameRateRule(AVStream* stream);

// What the selected streams hold, in seconds: the longest of their own
// durations, or the container's when no stream gives one. A container's
// duration also counts an empty lead before its streams start.
double HeldSeconds(const MediaInput& in);

// Container start time in seconds, 0 when the container gives none.
double ContainerStartSeconds(const AVFormatContext* format);

// For a copy of an MP4/MOV file of H.264 or HEVC pictures and AAC sound:
// parsers created from now on (a seek closes the running ones) are left
// out. Such packets are whole pictures and sound frames timed by the file's
// index, and the H.264 parser the demuxer runs on each (allocating and
// clearing a buffer the picture's size) adds only key flags beyond the
// file's own sync table, which a copy keeps as it is. False when the file
// is of another kind and goes on being parsed.
bool ReadPacketsAsStored(AVFormatContext* format);

// Seeks `format` so that reading starts at the key frame at or before
// `start_us` (from the file's start; its clock's start is added).
SeekMethod SeekToCutStart(AVFormatContext* format, int64_t start_us);

