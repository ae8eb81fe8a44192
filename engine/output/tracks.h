// SPDX-License-Identifier: GPL-3.0-or-later
// Every track of a file besides the main picture and sound: which of them an
// output keeps, how their packets follow a cut or a join, the chapters, and
// the track layout a direct join needs. What cannot be kept is reported,
// never dropped without a word.
#pragma once

#include <string>
#include <vector>

#include "dropped_track.h"
#include "job_output.h"
#include "job_plan.h"

// One stream of a file, as the probe lists it.
struct TrackFacts {
    int index = 0;
    int kind = 0;  // AVMediaType
    std::string codec;
    std::string language;
    std::string title;
    bool is_default = false;
    bool main = false;  // the picture or sound a job cuts by
};
// False when the file does not open.
bool ListTracks(const char* path, std::vector<TrackFacts>* tracks);

// A cover picture: one picture that goes out with the header, not a track
// of packets.
bool IsAttachedPicture(const AVStream* st);

// What happens to each stream of an input: the per-stream choice, made once
// when the input's output streams are set up.
//
// Direct mode, first input: adds an output stream for every track the
// container takes (the main ones through `add_main`), in the file's order.
// Later inputs continue the output's tracks of their kind, in order. Either
// way the tracks left out go into `dropped`. In re-encoding every
// track besides the main ones is reported left out.
bool PlanTracks(std::vector<DroppedTrack>* dropped, JobOutput& out, InputRun& run, bool (*add_main)(JobOutput&, InputRun&, bool video));

// Re-encoding: subtitles go on in the container's text format (MP4 and MOV
// mov_text; Matroska the source's, else SubRip), or as they are where the
// container takes them; every other track besides the main ones is reported
// left out. Each input's other tracks start where its picture starts: they
// wait until the encoders know on which time of the input that is, and
// `FollowReencodedOrigin` gives it to them.
bool PlanReencodedTracks(const EncodeTargets& targets, std::vector<DroppedTrack>* dropped, JobOutput& out, InputRun& run);
void StartReencodedTracks(InputRun& run, int64_t offset_us);
void FollowReencodedOrigin(JobOutput& out, InputRun& run, int64_t origin_us);

// A packet of a stream that is neither the main picture nor the main sound.
void CopyExtraPacket(JobOutput& out, InputRun& run, AVPacket* pkt);
// Extra packets read before the input's origin was known, once it is.
void WriteWaitingExtras(JobOutput& out, InputRun& run);
// After the input's last packet: what waited for the origin or the picture.
void FinishExtraTracks(JobOutput& out, InputRun& run);

// Moves a packet of `in_st` onto an output timeline in `out_tb`: the input's
// time from_us lands at offset_us. A subtitle that started before from_us is
// shortened to start there, one lasting past to_us ends there; any other
// packet must end after from_us. False: nothing of the packet is kept.
bool PlaceExtraPacket(AVPacket* pkt, const AVStream* in_st, AVRational out_tb, int64_t from_us, int64_t to_us,
                      int64_t offset_us);

// The tracks of `input` besides the main ones that a copy into `format`
// keeps; the others are reported in `dropped` for `input_index`.
std::vector<int> CopiableExtraTracks(std::vector<DroppedTrack>* dropped, int input_index, const AVFormatContext* input,
                                     const AVOutputFormat* format);
// An output stream for an extra track: its facts and disposition whole.
AVStream* AddExtraStream(AVFormatContext* ctx, const AVStream* in_st);
// The cover pictures' one packet each, once the header is written.
void WriteAttachedPictures(AVFormatContext* ctx, const AVFormatContext* in, const std::vector<int>& in_streams,
                           const std::vector<AVStream*>& out_streams);

// Chapters of `in` that overlap its [from_us, to_us), clipped to it and moved
// so that from_us lands at offset_us, appended to `list`.
void CollectChapters(std::vector<ChapterCopy>* list, const AVFormatContext* in, int64_t from_us, int64_t to_us,
                     int64_t offset_us);
// A part of a cut written into one file with others gets a chapter of its
// own: from `start_us` of the output, where its first picture lands, to
// `end_us`, titled by the source times it holds, such as
// "00:01:02.000 – 00:05:10.000" (from the file's start, an en dash between).
// The chapter before it ends where it starts.
bool AddPartChapter(std::vector<ChapterCopy>* list, int64_t start_us, int64_t end_us, int64_t source_from_us,
                    int64_t source_to_us);
std::string PartChapterTitle(int64_t source_from_us, int64_t source_to_us);
// The last part's chapter runs to the file's end; all move with the packets
// when the muxer moves them (JobOutput::MuxerShiftMicroseconds).
void EndPartChapters(std::vector<ChapterCopy>* list, int64_t file_end_us, int64_t muxer_shift_us = 0);
// MP4 and QuickTime files given no chapters before the header get a chapter
// track made from those given before the trailer.
bool TrailerMakesChapterTrack(const AVOutputFormat* format);
// Chapters given only before the trailer reach the file.
bool ChaptersWaitForTrailer(const AVOutputFormat* format);
// Muxers that write chapters with the header (MP4, MOV) get them before it,
// from a look ahead at where the copy of each input starts; PutChapters
// replaces them before the trailer with the chapters as written.
// `current_input` is the input the output is made for.
void ReserveChapters(AVFormatContext* out, const JobPlan& plan, int current_input);
bool PutChapters(AVFormatContext* out, const std::vector<ChapterCopy>& list);
// Moves every stream of `out` and its chapters at least `us` later (a sound
// encoder's priming the container plays first). The engine's own clocks stay
// as they are: the muxer adds the move to every packet, and the chapters
// given to `out` carry it too.
void MoveOutputLater(AVFormatContext* out, int64_t us);

// The codecs of every sound, subtitle and data track of an opened file, by
// kind (AVMediaType); chapter names carried in a text track are not a track.
std::vector<std::vector<int>> ExtraTrackLayout(const AVFormatContext* in);
