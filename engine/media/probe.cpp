// SPDX-License-Identifier: GPL-3.0-or-later
#include "probe.h"

#include <algorithm>

#include <sys/stat.h>

#include "container_rules.h"
#include "conversion_job.h"
#include "exact_cut.h"
#include "held_length.h"
#include "input_facts.h"
#include "media_input.h"
#include "media_time.h"
#include "stream_copy.h"
#include "tracks.h"

namespace {

int32_t ClampToInt32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

void RecordVideoFacts(ConversionJob* job, MediaInput& in)
{
    if (!in.video_dec) {
        job->source_height = 0;
        job->source_width = 0;
        job->video_codec_id = 0;
        job->video_bit_rate = 0;
        return;
    }
    job->source_height = in.video_dec->height;
    job->source_width = in.video_dec->width;
    job->video_codec_id = in.video_dec->codec_id;
    job->video_bit_rate = ClampToInt32(in.video_dec->bit_rate);
    RecordSourceRate(job, ApplyFrameRateRule(in.VideoStream()));
}

void RecordAudioFacts(ConversionJob* job, const MediaInput& in)
{
    const AVCodecContext* a = in.audio_dec.get();
    job->audio_codec_id = a ? a->codec_id : 0;
    job->audio_channels = a ? a->ch_layout.nb_channels : 0;
    job->audio_sample_rate = a ? a->sample_rate : 0;
    job->audio_bit_rate = a ? ClampToInt32(a->bit_rate) : 0;
}

bool StatOf(const std::string& path, struct stat* st) { return stat(path.c_str(), st) == 0; }

StreamParams ParamsOf(const AVStream* st)
{
    StreamParams p;
    if (!st)
        return p;
    const AVCodecParameters* par = st->codecpar;
    p.codec_id = par->codec_id;
    p.profile = par->profile;
    p.video_delay = par->video_delay;
    p.width = par->width;
    p.height = par->height;
    p.sample_rate = par->sample_rate;
    p.channels = par->ch_layout.nb_channels;
    if (par->extradata_size > 0)
        p.extradata.assign(par->extradata, par->extradata + par->extradata_size);
    return p;
}

}  // namespace

void TakeInputFacts(MediaInput& in, const std::string& path, InputFacts* facts, bool keep_position)
{
    *facts = InputFacts{};
    facts->path = path;
    struct stat st {};
    if (StatOf(path, &st)) {
        facts->file_size = st.st_size;
        facts->modified_ns = NanosecondsOf(st.st_mtim);
        facts->changed_ns = NanosecondsOf(st.st_ctim);
        facts->inode = st.st_ino;
    }
    facts->probe_result = kProbeOk;
    facts->video = ParamsOf(in.VideoStream());
    facts->audio = ParamsOf(in.AudioStream());
    facts->duration_us = in.format->duration;
    facts->start_us = ContainerStartMicroseconds(in.format.get());
    if (AVStream* vs = in.VideoStream(); vs && in.video_dec) {
        facts->width = in.video_dec->width;
        facts->height = in.video_dec->height;
        // The probe's rule: a rate above 1000 fps counts in 1001ths.
        AVRational rate = vs->r_frame_rate;
        if (rate.den != 0 && rate.num / rate.den > 1000)
            rate.den = 1001;
        facts->fps_num = rate.num;
        facts->fps_den = rate.den;
    }
    facts->direct_copy_possible =
        in.format->nb_streams == 0 || DirectOutputFormat(in.format.get(), path.c_str()) != nullptr;
    facts->exact_cut_possible = ExactCutPossible(in, path.c_str(), &facts->exact_cut_why);
    facts->layout = ExtraTrackLayout(in.format.get());
    facts->chapter_count = static_cast<int>(in.format->nb_chapters);
    facts->measured_held_s = keep_position ? MeasuredHeldSeconds(in, path.c_str())
                                           : MeasuredHeldSecondsOfClosingInput(in);
}

int ReadInputFacts(const std::string& path, InputFacts* facts)
{
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;
    const int rc = OpenMediaInput(path.c_str(), in, options);
    if (rc != kProbeOk) {
        *facts = InputFacts{};
        facts->path = path;
        facts->probe_result = rc;
        return rc;
    }
    TakeInputFacts(in, path, facts, false);
    return rc;
}

void RecordSourceRate(ConversionJob* job, const SourceRate& rate)
{
    job->source_fps = rate.fps;
    job->source_fps_num = rate.num;
    job->source_fps_den = rate.den;
}

int ProbeMedia(ConversionJob* job, ProbeKeeps keeps)
{
    job->video_stream_index = -1;

    const bool keep = keeps == ProbeKeeps::FileOpen;
    MediaInput in;
    MediaInputOptions options;
    if (keep)
        options.interrupt = CancelCallback(&job->cancel_requested);
    const int rc = OpenMediaInput(job->probe_path, in, options);
    if (rc != kProbeOk) {
        job->probe_facts = InputFacts{};
        job->probe_facts.path = job->probe_path;
        job->probe_facts.probe_result = rc;
        return rc;
    }

    job->video_stream_index = in.video_index;
    RecordVideoFacts(job, in);
    RecordAudioFacts(job, in);
    job->duration_us = in.format->duration;
    job->initial_start_us = 0;
    job->initial_end_us = in.format->duration;
    TakeInputFacts(in, job->probe_path, &job->probe_facts, keep);
    if (keep)
        job->probe_facts.held = std::make_shared<HeldInput>(std::make_unique<MediaInput>(std::move(in)), &job->cancel_requested);
    return kProbeOk;  // unless kept, `in` closes the decoders and the file
}

int ProbeMedia() { return ProbeMedia(g_pJob, ProbeKeeps::Nothing); }
