// SPDX-License-Identifier: GPL-3.0-or-later
#include "worker.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "container_rules.h"
#include "conversion_job.h"
#include "direct_copy.h"
#include "exact_cut.h"
#include "extra_sound.h"
#include "held_length.h"
#include "job_door.h"
#include "job_file.h"
#include "job_output.h"
#include "job_setup.h"
#include "media_time.h"
#include "reencode.h"
#include "stream_copy.h"
#include "track_enabling.h"
#include "tracks.h"

namespace {

bool Cancelled(const ConversionJob* job) { return job->cancel_requested.load() != 0; }

// The reason goes first: a reader that sees the status also sees why. A
// failure while the job is being stopped is the stop.
void MarkFailed(ConversionJob* job, InputRun& run, FailureReason reason)
{
    job->input_reason[run.index] = Cancelled(job) ? FailureReason::Stopped : reason;
    job->input_status[run.index] = kInputFailed;
    run.failed = true;
}

FailureReason ReasonOfOpen(int probe_code)
{
    return probe_code == kProbeNoSuchFile || probe_code == kProbeUnreadable || probe_code == kProbeNotAFile
               ? FailureReason::Unreadable
               : FailureReason::NotMedia;
}

void ResetPerInputState(ConversionJob* job)
{
    job->video_stream_index = -1;
    job->input_start_s = 0;
    job->audio_written_s = 0;
    job->video_written_s = 0;
}

// What the window shows of the file being worked on.
void RecordInputFacts(ConversionJob* job, InputRun& run)
{
    MediaInput& in = run.in;
    job->video_stream_index = in.video_index;
    job->duration_us = in.format->duration;
    if (AVStream* vs = in.VideoStream()) {
        job->source_height = in.video_dec->height;
        job->source_width = in.video_dec->width;
        ApplyFrameRateRule(job, vs);
    }
    job->initial_start_us = 0;
    job->initial_end_us = job->duration_us;
}

bool CreateOutput(ConversionJob* job, JobOutput& out, const AVOutputFormat* format, int index)
{
    AVFormatContext* ctx = out.file ? NewJobMuxer(job, format, job->output_paths[index]) : nullptr;
    if (!ctx)
        return false;
    out.ctx.reset(ctx);
    return true;
}

// One output stream for one input stream: added while the header is still to
// be written, otherwise the existing one must be able to take the input.
bool SetUpStream(ConversionJob* job, JobOutput& out, InputRun& run, const AVStream* in_st,
                 AVStream** out_st, bool video)
{
    if (!*out_st) {
        if (out.header_written)
            return false;  // the output was made without this kind of stream
        if (job->reencode) {
            AVStream* st = avformat_new_stream(out.ctx.get(), nullptr);
            if (!st)
                return false;
            st->id = static_cast<int>(out.ctx->nb_streams) - 1;
            if (in_st)
                CopyStreamFacts(st, in_st);
            *out_st = st;
        } else {
            *out_st = AddCopiedStream(out.ctx.get(), in_st);
            return *out_st != nullptr;
        }
    } else if (!job->reencode) {
        return CanContinueStream((*out_st)->codecpar, in_st->codecpar);
    }
    return video ? out.reencoder->SetUpVideo(out, run, *out_st)
                 : out.reencoder->SetUpAudio(out, run, *out_st);
}

// Opened as every input is: files only, and a stop ends a blocked read.
int OpenLaterInput(ConversionJob* job, int l, MediaInput& in)
{
    MediaInputOptions options;
    options.open_audio = false;
    options.interrupt = CancelCallback(job);
    return OpenMediaInput(job->input_paths[l], in, options);
}

// The first input from `from` on that has a stream of `type`, or -1.
int FirstInputWith(ConversionJob* job, int from, AVMediaType type)
{
    for (int l = from; l < job->input_count && !Cancelled(job); ++l) {
        if (const InputFacts* facts = LaunchFactsOf(job, l)) {
            if (facts->Readable() && (type == AVMEDIA_TYPE_VIDEO ? facts->video : facts->audio).codec_id != 0)
                return l;
            continue;
        }
        MediaInput in;
        if (OpenLaterInput(job, l, in) == kProbeOk &&
            (type == AVMEDIA_TYPE_VIDEO ? in.video_index : in.audio_index) >= 0)
            return l;
    }
    return -1;
}

// A re-encoded join has a picture when any input has one and sound when any
// has it, whatever the first input lacks: the header fixes the streams.
bool SetUpStreamsOfLaterInputs(ConversionJob* job, JobOutput& out, InputRun& run)
{
    if (!job->reencode || !job->join_mode || out.header_written)
        return true;
    if (!out.video) {
        const int l = FirstInputWith(job, run.index + 1, AVMEDIA_TYPE_VIDEO);
        InputRun other;
        other.index = l;
        if (l >= 0 && (OpenLaterInput(job, l, other.in) != kProbeOk ||
                       !SetUpStream(job, out, other, other.in.VideoStream(), &out.video, true)))
            return false;
    }
    if (!out.audio && FirstInputWith(job, run.index + 1, AVMEDIA_TYPE_AUDIO) >= 0)
        return SetUpStream(job, out, run, nullptr, &out.audio, false);
    return true;
}

bool SetUpMainStream(ConversionJob* job, JobOutput& out, InputRun& run, bool video)
{
    return video ? SetUpStream(job, out, run, run.in.VideoStream(), &out.video, true)
                 : SetUpStream(job, out, run, run.in.AudioStream(), &out.audio, false);
}

bool SetUpOutputStreams(ConversionJob* job, JobOutput& out, InputRun& run)
{
    // A copy takes every track the output can hold, decided here once.
    if (!job->reencode) {
        if (!PlanTracks(job, out, run, SetUpMainStream))
            return false;
        return true;
    }
    if (AVStream* vs = run.in.VideoStream()) {
        if (!SetUpStream(job, out, run, vs, &out.video, true))
            return false;
    }
    if (AVStream* as = run.in.AudioStream()) {
        if (!SetUpStream(job, out, run, as, &out.audio, false))
            return false;
    }
    if (!SetUpStreamsOfLaterInputs(job, out, run) || !PlanReencodedTracks(job, out, run))
        return false;
    return true;
}

// A direct copy's cover pictures: one packet each, right after the header.
void WriteAttachedPicturesOf(JobOutput& out, const InputRun& run)
{
    std::vector<int> in_streams;
    std::vector<AVStream*> out_streams;
    for (size_t i = 0; i < run.extra_slot.size(); ++i) {
        if (run.extra_slot[i] >= 0) {
            in_streams.push_back(static_cast<int>(i));
            out_streams.push_back(out.extras[run.extra_slot[i]].stream);
        }
    }
    WriteAttachedPictures(out.ctx.get(), run.in.format.get(), in_streams, out_streams);
}

bool IsExtraSound(const JobOutput& out, const InputRun& run, int stream)
{
    if (stream < 0 || static_cast<size_t>(stream) >= run.extra_slot.size() || run.extra_slot[stream] < 0)
        return false;
    return out.extras[run.extra_slot[stream]].kind == AVMEDIA_TYPE_AUDIO;
}

// Writes the header into the job's own file. On failure the caller discards
// the output, so a later input of a join can start it afresh.
bool OpenOutputFile(JobOutput& out)
{
    AVFormatContext* ctx = out.ctx.get();
    if (ctx->nb_streams == 0 || !WriteHeaderInto(ctx, out.file.get()))
        return false;
    out.header_written = true;
    return true;
}

// Drops the draft output; the file keeps its name, emptied.
void DiscardOutput(JobOutput& out)
{
    std::unique_ptr<OutputFile> file = std::move(out.file);
    out = JobOutput{};
    if (file)
        file->Rewind();
    out.file = std::move(file);
}

void UpdateWrittenTimes(ConversionJob* job, const JobOutput& out)
{
    if (out.audio)
        job->audio_written_s = out.audio_clock.Seconds(out.audio);
    if (out.video)
        job->video_written_s = out.video_clock.Seconds(out.video);
}

void UpdateProgress(ConversionJob* job, const InputRun& run)
{
    const int l = run.index;
    const double written = std::max(job->audio_written_s - run.audio_before_s, job->video_written_s - run.video_before_s);
    const double span = job->span_s[l];
    const double percent = span > 0 ? written * 100 / span : 100;
    job->progress_percent = static_cast<int32_t>(std::clamp(percent, 0.0, 100.0));
    NotifyProgressObserver(job);
}

// The cut has its length on its video clock, or on its audio clock when it
// has no video at all. Pictures written by then may be shown after ones
// still to come (reordered pictures): the cut ends at the first picture read
// that is shown after everything written, so no picture is left out between
// them. Presentation times decide, whatever the stream's rate.
bool CutSpanWritten(const ConversionJob* job, const JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    // A later span of one file counts from where the span before it ended.
    const double span = job->span_s[run.index];
    if (!out.video || run.in.video_index < 0)
        return span <= job->audio_written_s - run.audio_before_s;
    if (span > job->video_written_s - run.video_before_s)
        return false;
    if (pkt->stream_index == run.in.video_index)
        run.pictures_missing = ShownBeforeWrittenEnd(out, run, pkt);
    return !run.pictures_missing;
}

// When the cut's picture has reached its length, the sound read in the same
// stretch of the file still belongs to it: without it the cut would end
// silent by the container's interleaving distance.
bool SoundStillCatchingUp(const JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    constexpr int kMaxPicturesPastCut = 100;
    if (!out.audio || !out.video || run.in.audio_index < 0 || run.in.video_index < 0)
        return false;
    const double picture_end = out.video_clock.EndSeconds(out.video);
    // Every copied sound track, as far as this input gave it any.
    bool behind = out.audio_clock.EndSeconds(out.audio) < picture_end;
    for (const ExtraTrack& t : out.extras)
        behind = behind || (t.kind == AVMEDIA_TYPE_AUDIO && !t.encoder && t.clock.last_dts != AV_NOPTS_VALUE &&
                            t.clock.EndSeconds(t.stream) < picture_end);
    if (!behind)
        return false;
    if (pkt->stream_index == run.in.audio_index || IsExtraSound(out, run, pkt->stream_index))
        return true;
    return ++run.pictures_past_cut < kMaxPicturesPastCut;  // the sound may simply end early
}

// A file whose index promises more than it holds (a download cut short) or
// that fails to read is not reported as done, whatever could be saved of it.
bool EndedBeforeItsLength(const ConversionJob* job, const JobOutput& out, const InputRun& run)
{
    constexpr double kToleranceS = 1.0;
    if (run.read_result < 0 && run.read_result != AVERROR_EOF)
        return true;
    const double held_s = HeldSeconds(run.in);
    // The header promises the span, but the file was found to end before it.
    const double measured_s = run.measured_held_s;
    if (!job->join_mode && measured_s > 0 && held_s > measured_s + kToleranceS &&
        measured_s < run.cut_start_s + job->span_s[run.index] - kToleranceS)
        return true;
    if (held_s <= 0 || run.cut_complete)
        return false;
    const double written_s = job->reencode ? out.reencoder->InputSeconds(run)
                                           : (out.EndMicroseconds() - run.offset_us) / 1e6;
    double expected_s = held_s;
    if (!job->join_mode)
        expected_s = std::min(job->span_s[run.index], expected_s - run.cut_start_s);
    return written_s < expected_s - kToleranceS;
}

void RunPacketLoop(ConversionJob* job, JobOutput& out, InputRun& run)
{
    PacketPtr packet = MakePacket();
    AVPacket* pkt = packet.get();
    const int l = run.index;
    while (pkt && (run.read_result = av_read_frame(run.in.format.get(), pkt)) >= 0) {
        if (Cancelled(job) || out.WriteFailed()) {
            av_packet_unref(pkt);
            break;
        }
        UpdateWrittenTimes(job, out);
        if (job->join_mode) {
            job->span_s[l] = job->join_total_s;
        } else if (job->reencode) {
            if (out.reencoder->SpanReached(run)) {
                run.cut_complete = true;
                av_packet_unref(pkt);
                break;
            }
        } else if (CutSpanWritten(job, out, run, pkt)) {
            const bool more_sound = SoundStillCatchingUp(out, run, pkt);
            const bool is_sound = pkt->stream_index == run.in.audio_index || IsExtraSound(out, run, pkt->stream_index);
            run.cut_complete = true;
            if (!more_sound || !is_sound) {
                av_packet_unref(pkt);
                if (!more_sound)
                    break;
                continue;
            }
        }
        if (pkt->flags & AV_PKT_FLAG_CORRUPT) {
            av_packet_unref(pkt);  // damaged in the file: decoders would show garbage
            continue;
        }
        UpdateProgress(job, run);

        if (pkt->stream_index == run.in.video_index) {
            const bool ok = job->reencode ? out.reencoder->VideoPacket(out, run, pkt)
                                          : CopyVideoPacket(out, run, pkt) >= 0;
            if (!ok) {
                MarkFailed(job, run, job->reencode ? FailureReason::NotMedia : FailureReason::NotAccepted);
                av_packet_unref(pkt);
                break;
            }
            if (!job->reencode)
                WriteWaitingExtras(out, run);  // the origin may be known now
        } else if (pkt->stream_index == run.in.audio_index) {
            // A lost audio packet is not worth failing the input for.
            if (job->reencode)
                out.reencoder->AudioPacket(out, run, pkt);
            else
                CopyAudioPacket(out, run, pkt);
        } else {
            CopyExtraPacket(out, run, pkt);
        }
        av_packet_unref(pkt);
    }
    if (!job->reencode) {
        FinishDirectInput(out, run);
        FinishExtraTracks(out, run);
        if (run.origin_us != AV_NOPTS_VALUE) {
            const int64_t length_us = out.SeamMicroseconds() - run.offset_us;
            CollectChapters(&out.chapters, run.in.format.get(), run.origin_us, run.origin_us + length_us,
                            run.offset_us);
        }
    }
    run.waiting.clear();
    UpdateWrittenTimes(job, out);
}

// Drains the encoders and writes the trailer. A file that holds nothing, or
// whose end could not be written (a full disk leaves an MP4 without its
// index), cannot play: it is deleted rather than left looking like a result.
// Returns why the output is not a result, None when it is (or there is none).
FailureReason FinishOutput(ConversionJob* job, JobOutput& out, int first, int last)
{
    // A job none of whose inputs is done has no result: nothing of it stays,
    // but for what a cut-short file still held, which is all there is of it.
    bool any_done = false;
    for (int i = first; i <= last && i < job->input_count && i <= kMaxJobInputs; ++i)
        any_done = any_done || job->input_status[i] == kInputDone ||
                   (job->input_status[i] == kInputFailed && job->input_reason[i] == FailureReason::CutShort);
    const bool wanted = any_done || Cancelled(job);
    bool ok = out.header_written && wanted;
    if (out.header_written) {
        if (out.reencoder && (!FinishExtraSound(out) || !out.reencoder->FinishJob(out)))
            ok = false;
        if ((ChaptersAtTrailer(out.ctx->oformat) && !PutChapters(out.ctx.get(), out.chapters)) ||
            av_write_trailer(out.ctx.get()) < 0)
            ok = false;
        // Unreadable boxes leave the flag as the muxer set it; a failed write shows in the file's error.
        if (ok)
            KeepUnmarkedSubtitlesOff(out.ctx.get(), out.file.get());
    }
    const bool wrote_packets = out.packets_written > 0;
    std::unique_ptr<OutputFile> file = std::move(out.file);
    out = JobOutput{};  // frees the muxer; the writer is the file's
    FailureReason why = FailureReason::None;
    if (!file || FinishJobFile(job, file.get(), ok && wrote_packets, &why))
        return FailureReason::None;
    if (!wanted)
        return FailureReason::None;  // every input has its own reason already
    if (why != FailureReason::None)
        return why;  // a write failed, or the file is gone
    return job->output_error != 0 || !wrote_packets ? FailureReason::WriteFailed : FailureReason::NotAccepted;
}

// A cut starting at or past what the streams hold: the seek would land on
// the last key frame and copy pictures from before the span.
bool StartsPastItsEnd(const ConversionJob* job, InputRun& run, double start_s)
{
    const double held_s = HeldSeconds(run.in);
    if (held_s > 0 && start_s >= held_s)
        return true;
    // The header may promise more than the file holds (a download stopped
    // early): what is really there decides, as the launch measured it. The
    // seek to the start follows.
    const InputFacts* facts = LaunchFactsOf(job, run.index);
    run.measured_held_s = start_s <= 0 ? 0
                          : facts      ? facts->measured_held_s
                                       : MeasuredHeldSeconds(run.in, job->input_paths[run.index]);
    return run.measured_held_s > 0 && start_s >= run.measured_held_s;
}

// Nothing of this input reached the output: a span past the file's end, or
// a stream that gave not one packet.
bool WroteNothing(const ConversionJob* job, const JobOutput& out, const InputRun& run, int64_t packets_before)
{
    if (job->reencode)
        return !out.reencoder || out.reencoder->InputSeconds(run) <= 0;
    return out.packets_written == packets_before;
}

// The input has a picture, but not one of it could be copied (its key
// pictures are damaged or cut off): sound alone is not the file's content.
bool LostThePicture(const ConversionJob* job, const JobOutput& out, const InputRun& run, int64_t pictures_before)
{
    return !job->reencode && run.in.video_index >= 0 && out.video && out.video_packets_written == pictures_before;
}

// Opens input `run.index`, the job's one open of it, or takes the one the
// probe kept open for it. An exact cut reads only the picture's decoder; a
// copy never decodes: a one-thread decoder opens without a thread pool.
int OpenInput(ConversionJob* job, InputRun& run, bool exact)
{
    MediaInputOptions options;
    options.decoder_threads = job->reencode ? ReencodeDecoderThreads() : 1;
    options.open_audio = !exact;
    options.interrupt = CancelCallback(job);
    return OpenJobInput(job, run.index, options, run.in);
}

// One input, opened, steps from there to releasing it. Failures mark the
// input and return at once; the output stays open for the next input.
void ProcessInput(ConversionJob* job, JobOutput& out, InputRun& run, const InputPlan& input)
{
    const int l = run.index;
    RecordInputFacts(job, run);

    // A copy keeps the input's own format under its own extension.
    job->output_format = job->reencode ? ReencodeOutputFormat(job->output_paths[l])
                                       : DirectOutputFormat(run.in.format.get(), job->output_paths[l]);
    if (!job->output_format)
        return MarkFailed(job, run, FailureReason::NotAccepted);
    if (!out.ctx) {
        if (!CreateOutput(job, out, job->output_format, OutputIndexOf(job, l)))
            return MarkFailed(job, run, out.file ? FailureReason::NotAccepted : FailureReason::WriteFailed);
        if (job->reencode)
            out.reencoder = std::make_unique<Reencoder>(job);
        // What the output container can hold of them, whatever the mode.
        CopyContainerFacts(out.ctx.get(), run.in.format.get());
        ReserveChapters(out.ctx.get(), job);
    }
    // Until its header is written the output is only this input's draft:
    // a failure drops it, and the next input starts the output afresh.
    const bool first_header = !out.header_written;
    if (!SetUpOutputStreams(job, out, run) || (!out.header_written && !OpenOutputFile(out))) {
        const bool joining_later = out.header_written && job->join_mode && !job->reencode;
        if (!out.header_written)
            DiscardOutput(out);
        return MarkFailed(job, run, joining_later ? FailureReason::DiffersFromFirst : FailureReason::NotAccepted);
    }
    if (first_header && !job->reencode)
        WriteAttachedPicturesOf(out, run);

    job->input_start_s = ContainerStartSeconds(run.in.format.get());
    run.offset_us = job->reencode ? out.EndMicroseconds() : out.SeamMicroseconds();
    run.continues_output = out.video_clock.last_dts != AV_NOPTS_VALUE;
    // Spans in one file meet at seams as a join's inputs do.
    run.trim_sound_to_picture =
        (job->join_mode || SpansInOneFile(job)) && out.video && out.audio && run.in.video_index >= 0;
    run.video_before_s = out.video ? out.video_clock.Seconds(out.video) : 0;
    run.audio_before_s = out.audio ? out.audio_clock.Seconds(out.audio) : 0;
    run.cut_start_s = SecondsOfMicroseconds(input.span.start_us);
    run.cut_length_us = input.span.LengthMicroseconds();
    if (!job->join_mode && StartsPastItsEnd(job, run, run.cut_start_s))
        return MarkFailed(job, run, FailureReason::NothingInSpan);
    if (input.span.start_us > 0)
        job->seek_by_bytes = SeekToCutStart(run.in.format.get(), input.span.start_us) == SeekMethod::Bytes;
    if (job->reencode && !out.reencoder->BeginInput(out, run))
        return MarkFailed(job, run, FailureReason::NotMedia);
    if (job->reencode) {
        StartReencodedTracks(job, run, out.reencoder->InputOffsetMicroseconds());
        WriteWaitingExtras(out, run);  // the cues already on screen at the start
    }

    const int64_t packets_before = out.packets_written;
    const int64_t pictures_before = out.video_packets_written;
    RunPacketLoop(job, out, run);
    if (job->reencode && !out.reencoder->EndInput(out, run))
        return MarkFailed(job, run, FailureReason::NotMedia);
    if (job->reencode &&
        !EndExtraSoundInput(out, out.reencoder->InputOffsetMicroseconds() +
                                     static_cast<int64_t>(out.reencoder->InputSeconds(run) * 1e6)))
        return MarkFailed(job, run, FailureReason::NotMedia);
    if (job->reencode && out.reencoder->InputOriginMicroseconds() != AV_NOPTS_VALUE) {
        const int64_t from = out.reencoder->InputOriginMicroseconds();
        CollectChapters(&out.chapters, run.in.format.get(), from,
                        from + static_cast<int64_t>(out.reencoder->InputSeconds(run) * 1e6),
                        out.reencoder->InputOffsetMicroseconds());
    }
    if (out.WriteFailed())
        return MarkFailed(job, run, FailureReason::WriteFailed);
    if (Cancelled(job))
        return;
    if (WroteNothing(job, out, run, packets_before))
        MarkFailed(job, run, job->join_mode ? FailureReason::CutShort : FailureReason::NothingInSpan);
    else if (LostThePicture(job, out, run, pictures_before))
        MarkFailed(job, run, FailureReason::PictureLost);
    else if (EndedBeforeItsLength(job, out, run))
        MarkFailed(job, run, FailureReason::CutShort);
}

// Opens the input once and hands it to the path that runs it: an exact cut
// in a loop of its own that writes and closes the job's file itself (and
// deletes it when the input did not open), else the copy or re-encode.
void RunInput(ConversionJob* job, JobOutput& out, InputRun& run, const InputPlan& input)
{
    const bool exact = input.exact;
    const int opened = OpenInput(job, run, exact);
    if (exact) {
        FailureReason why = FailureReason::None;
        if (!RunExactCut(job, run.index, std::move(run.in), std::move(out.file), &why))
            MarkFailed(job, run, opened == kProbeOk ? why : ReasonOfOpen(opened));
    } else if (opened == kProbeOk) {
        ProcessInput(job, out, run, input);
    } else if (!Cancelled(job)) {  // a stop during the open leaves the input pending
        MarkFailed(job, run, ReasonOfOpen(opened));
    }
}

// The output is gone, or can take nothing more: no input is done.
void FailInputsFrom(ConversionJob* job, int first)
{
    for (int i = first; i < job->input_count && i <= kMaxJobInputs; ++i) {
        job->input_reason[i] = FailureReason::WriteFailed;
        job->input_status[i] = kInputFailed;
    }
}

void FailDoneInputs(ConversionJob* job, FailureReason reason, int first, int last)
{
    for (int i = first; i <= last && i < job->input_count && i <= kMaxJobInputs; ++i)
        if (job->input_status[i] == kInputDone) {
            job->input_reason[i] = reason;
            job->input_status[i] = kInputFailed;
        }
}

}  // namespace

void ConversionWorker(ConversionJob* job)
{
    for (int i = 0; i < job->input_count && i <= kMaxJobInputs; ++i) {
        job->input_reason[i] = FailureReason::None;
        job->input_status[i] = kInputPending;
    }
    job->progress_percent = 0;
    job->current_input = 0;
    if (job->input_count <= 0)
        return;
    const JobPlan plan = PlanJob(job);

    JobOutput out;
    out.file = TakeOutputFile(job, 0);
    bool finished = false;
    const bool separate = job->separate_outputs != 0;
    // Exact spans into one file: one cutter over every span.
    // The file is opened once for all of them.
    ExactSeriesPtr series;
    int series_opened = kProbeOk;
    if (plan.spans_in_one_file && plan.inputs[0].exact) {
        InputRun first;
        first.index = 0;
        series_opened = OpenInput(job, first, true);
        series = StartExactSeries(job, std::move(first.in), std::move(out.file));
    }
    const auto finish = [&](int first, int last) {
        const FailureReason why = series ? FinishExactSeries(series.get()) : FinishOutput(job, out, first, last);
        if (why != FailureReason::None)
            FailDoneInputs(job, why, first, last);
    };
    while (job->current_input < job->input_count) {
        ResetPerInputState(job);
        if (Cancelled(job))
            break;  // the output is still finished below
        InputRun run;
        run.index = job->current_input;
        if (run.index >= static_cast<int>(plan.inputs.size()))
            break;  // more inputs than the record holds
        if (separate && run.index > 0)
            out.file = TakeOutputFile(job, run.index);
        if (series) {
            FailureReason why = FailureReason::None;
            if (!CutExactSpan(series.get(), run.index, &why))
                MarkFailed(job, run, series_opened == kProbeOk ? why : ReasonOfOpen(series_opened));
        } else {
            RunInput(job, out, run, plan.inputs[run.index]);
        }
        if (!Cancelled(job) && !run.failed)
            job->input_status[run.index] = kInputDone;
        const bool write_failed = out.WriteFailed();
        if (write_failed)
            FailInputsFrom(job, run.index + 1);  // nothing more fits
        const int first = separate ? run.index : 0;
        if (run.index == job->input_count - 1 || write_failed || separate) {
            finish(first, run.index);
            finished = run.index == job->input_count - 1 || write_failed;
        }
        // The next input starts at 0 %, before the window can read it as
        // current; the last input, and a stopped one, keep how far they got.
        if (!Cancelled(job) && !write_failed && run.index + 1 < job->input_count)
            job->progress_percent = 0;
        job->current_input = write_failed ? job->input_count : run.index + 1;
    }
    if (!finished && !separate)  // after a cancel
        finish(0, job->input_count - 1);
    // Separate spans never reached (a stop, a full disk): their files were
    // only reserved.
    ReleaseReservedOutput(job);
}

std::thread StartConversionWorker(ConversionJob* job) { return std::thread(ConversionWorker, job); }
