// SPDX-License-Identifier: GPL-3.0-or-later
// The seven output formats and the codecs a choice can name, and the
// choices a cut and a join start from.
#include "job_setup.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

const FormatEntry FormatTable[kFormatCount] = {
    {"MP4 - (MPEG4 AAC) MPEG4 (*.mp4)", "MPEG4", "AAC"},
    {"MP4 - (H264 AAC) AVC(*.mp4)", "H.264", "AAC"},
    {"AVI - Video Format (*.avi)", "MPEG4", "MP3"},
    {"FLV - Flash Video (*.flv)", "FLV", "MP3"},
    {"WMV - Windos Media Video (*.wmv)", "WMV2", "WMA8"},
    {"MOV - QuickTime Video(*.mov)", "MPEG4", "AAC"},
    {"MKV - Matroska Video(*.mkv)", "H.264", "VORBIS"},
};

const std::vector<CodecName> kCutVideoCodecs = {
    {"MPEG4", AV_CODEC_ID_MPEG4}, {"H.264", AV_CODEC_ID_H264}, {"FLV", AV_CODEC_ID_FLV1},
    {"WMV2", AV_CODEC_ID_WMV2},   {"MPEG2VIDEO", AV_CODEC_ID_MPEG2VIDEO},
};
const std::vector<CodecName> kCutAudioCodecs = {
    {"AAC", AV_CODEC_ID_AAC}, {"AC3", AV_CODEC_ID_AC3},     {"MP3", AV_CODEC_ID_MP3},
    {"MP2", AV_CODEC_ID_MP2}, {"WMA8", AV_CODEC_ID_WMAV2}, {"VORBIS", AV_CODEC_ID_VORBIS},
};
const std::vector<CodecName> kJoinVideoCodecs = {
    {"MPEG4", AV_CODEC_ID_MPEG4},
    {"H.264", AV_CODEC_ID_H264},
    {"H.263", AV_CODEC_ID_H263},
    {"DivX", AV_CODEC_ID_MSMPEG4V3},
    {"FLV", AV_CODEC_ID_FLV1},
    {"WMV1", AV_CODEC_ID_WMV1},
    {"WMV2", AV_CODEC_ID_WMV2},
    {"MPEG1VIDEO", AV_CODEC_ID_MPEG1VIDEO},
    {"MPEG2VIDEO", AV_CODEC_ID_MPEG2VIDEO},
};
const std::vector<CodecName> kJoinAudioCodecs = {
    {"AAC", AV_CODEC_ID_AAC},       {"AC3", AV_CODEC_ID_AC3},   {"MP3", AV_CODEC_ID_MP3},
    {"VORBIS", AV_CODEC_ID_VORBIS}, {"WMA7", AV_CODEC_ID_WMAV1}, {"WMA8", AV_CODEC_ID_WMAV2},
};

bool LookUpCodec(const std::vector<CodecName>& table, const std::string& name, int* id)
{
    for (const CodecName& c : table) {
        if (name == c.name) {
            *id = c.id;
            return true;
        }
    }
    return false;
}

void ApplyFormatEntry(int entry, EncodingChoice* choice)
{
    if (entry < 0 || entry >= kFormatCount)
        return;
    choice->video_codec_name = FormatTable[entry].video_codec_name;
    choice->audio_codec_name = FormatTable[entry].audio_codec_name;
}

EncodingChoice DefaultCutChoice(const std::string& keep_rate_text)
{
    EncodingChoice c;
    c.direct = true;
    ApplyFormatEntry(0, &c);
    c.video_bit_rate = 3000000;
    c.width = 320;
    c.height = 240;
    c.fps_name = keep_rate_text;
    c.audio_bit_rate = 128000;
    c.sample_rate = 44100;
    c.channels = 2;
    return c;
}

EncodingChoice DefaultJoinChoice()
{
    EncodingChoice c;
    c.direct = false;
    ApplyFormatEntry(0, &c);
    c.video_bit_rate = 3000000;
    c.width = 320;
    c.height = 240;
    c.fps_name = "29.97 fps";
    c.audio_bit_rate = 192000;
    c.sample_rate = 44100;
    c.channels = 2;
    return c;
}
