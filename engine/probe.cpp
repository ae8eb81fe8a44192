// SPDX-License-Identifier: GPL-3.0-or-later
#include "probe.h"

#include <algorithm>

#include "conversion_job.h"
#include "media_input.h"

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
    ApplyFrameRateRule(job, in.VideoStream());
}

void RecordAudioFacts(ConversionJob* job, const MediaInput& in)
{
    const AVCodecContext* a = in.audio_dec.get();
    job->audio_codec_id = a ? a->codec_id : 0;
    job->audio_channels = a ? a->ch_layout.nb_channels : 0;
    job->audio_sample_rate = a ? a->sample_rate : 0;
    job->audio_bit_rate = a ? ClampToInt32(a->bit_rate) : 0;
}

}  // namespace

int ProbeMedia(ConversionJob* job)
{
    job->video_stream_index = -1;
    job->audio_stream_index = -1;
    job->video_dec_ctx = nullptr;
    job->audio_dec_ctx = nullptr;

    MediaInput in;
    const int rc = OpenMediaInput(job->probe_path, in);
    if (rc != kProbeOk)
        return rc;

    job->video_stream_index = in.video_index;
    job->audio_stream_index = in.audio_index;
    RecordVideoFacts(job, in);
    RecordAudioFacts(job, in);
    job->duration_us = in.format->duration;
    job->initial_start_us = 0;
    job->initial_end_us = in.format->duration;
    return kProbeOk;  // `in` closes the decoders and the file
}

int ProbeMedia() { return ProbeMedia(g_pJob); }
