#include "join_check.h"

#include <cstring>

#include "media_input.h"

namespace {

struct StreamFacts {
    InputContextPtr format;
    const AVCodecParameters* video = nullptr;
    const AVCodecParameters* audio = nullptr;
};

bool ReadFacts(const std::string& path, StreamFacts* facts)
{
    AVFormatContext* raw = nullptr;
    if (CheckInputKind(path.c_str()) != kProbeOk || OpenLocalFormat(&raw, path.c_str()) != 0)
        return false;
    facts->format.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0)
        return false;
    int video = -1, audio = -1;
    SelectStreams(raw, &video, &audio);
    facts->video = video >= 0 ? raw->streams[video]->codecpar : nullptr;
    facts->audio = audio >= 0 ? raw->streams[audio]->codecpar : nullptr;
    return true;
}

bool SameExtradata(const AVCodecParameters* a, const AVCodecParameters* b)
{
    return a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 || std::memcmp(a->extradata, b->extradata, a->extradata_size) == 0);
}

JoinDifference Compare(const StreamFacts& first, const StreamFacts& other)
{
    if (!first.video != !other.video || !first.audio != !other.audio)
        return JoinDifference::Tracks;
    if (const AVCodecParameters *a = first.video, *b = other.video; a) {
        if (a->codec_id != b->codec_id)
            return JoinDifference::VideoCodec;
        // The decoder keeps the first file's set-up for the whole output.
        if (a->profile != b->profile || (a->video_delay > 0) != (b->video_delay > 0) || a->width != b->width ||
            a->height != b->height || !SameExtradata(a, b))
            return JoinDifference::VideoSettings;
    }
    if (const AVCodecParameters *a = first.audio, *b = other.audio; a) {
        if (a->codec_id != b->codec_id)
            return JoinDifference::AudioCodec;
        if (a->sample_rate != b->sample_rate)
            return JoinDifference::SampleRate;
        if (a->ch_layout.nb_channels != b->ch_layout.nb_channels)
            return JoinDifference::Channels;
        if (a->profile != b->profile || !SameExtradata(a, b))
            return JoinDifference::AudioCodec;
    }
    return JoinDifference::None;
}

}  // namespace

JoinMismatch FindDirectJoinMismatch(const std::vector<std::string>& paths)
{
    StreamFacts first;
    if (paths.empty() || !ReadFacts(paths[0], &first))
        return {};
    for (size_t i = 1; i < paths.size(); ++i) {
        StreamFacts other;
        if (!ReadFacts(paths[i], &other))
            continue;
        if (const JoinDifference how = Compare(first, other); how != JoinDifference::None)
            return {static_cast<int>(i), how};
    }
    return {};
}

const char* JoinDifferenceText(JoinDifference how)
{
    switch (how) {
    case JoinDifference::None: return "it matches";
    case JoinDifference::Tracks: return "it does not have the same tracks (picture and sound)";
    case JoinDifference::VideoCodec: return "its video is in another format";
    case JoinDifference::VideoSettings: return "its video is coded with other settings";
    case JoinDifference::AudioCodec: return "its sound is in another format";
    case JoinDifference::SampleRate: return "its sound has another sample rate";
    case JoinDifference::Channels: return "its sound has another number of channels";
    }
    return "it differs";
}
