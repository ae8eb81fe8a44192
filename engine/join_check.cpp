// SPDX-License-Identifier: GPL-3.0-or-later
#include "join_check.h"

#include <cstring>

#include "media_input.h"
#include "stream_copy.h"
#include "tracks.h"

namespace {

struct StreamFacts {
    InputContextPtr format;
    const AVCodecParameters* video = nullptr;
    const AVCodecParameters* audio = nullptr;
    bool opened = false;
    bool has_facts = false;   // the stream info was read: video and audio are known
    bool has_layout = false;  // layout holds the other tracks' codecs
    bool copy_possible = true;
    std::vector<std::vector<int>> layout;
};

// Everything the checks need from one file, from a single open. Most
// containers name their codecs in the header; the layout and the copy check
// are taken from it before the stream info is read, as only files that do
// not (program streams) need it for them.
StreamFacts ReadFacts(const std::string& path, bool first)
{
    StreamFacts facts;
    AVFormatContext* raw = nullptr;
    if (CheckInputKind(path.c_str()) != kProbeOk || OpenLocalFormat(&raw, path.c_str()) != 0)
        return facts;
    facts.format.reset(raw);
    facts.opened = true;
    bool named = true;
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        named = named && raw->streams[i]->codecpar->codec_id != AV_CODEC_ID_NONE;
    if (named) {
        facts.layout = ExtraTrackLayout(raw);
        facts.has_layout = true;
    }
    const bool copy_named = named && raw->nb_streams > 0;
    if (first && copy_named)
        facts.copy_possible = DirectOutputFormat(raw, path.c_str()) != nullptr;
    const bool info = avformat_find_stream_info(raw, nullptr) >= 0;
    if (!named && info) {
        facts.layout = ExtraTrackLayout(raw);
        facts.has_layout = true;
    }
    if (first && !copy_named && info)
        facts.copy_possible = DirectOutputFormat(raw, path.c_str()) != nullptr;
    if (!info)
        return facts;
    facts.has_facts = true;
    int video = -1, audio = -1;
    SelectStreams(raw, &video, &audio);
    facts.video = video >= 0 ? raw->streams[video]->codecpar : nullptr;
    facts.audio = audio >= 0 ? raw->streams[audio]->codecpar : nullptr;
    return facts;
}

// How the tracks of file `i` differ from the first's, if they do.
bool CompareLayouts(const std::vector<std::vector<int>>& first, const std::vector<std::vector<int>>& layout, size_t i,
                    LayoutDifference* diff)
{
    for (int kind : {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_DATA}) {
        const std::vector<int>& a = layout[kind];
        const std::vector<int>& b = first[kind];
        LayoutDifference d;
        d.file = i;
        d.kind = kind;
        d.count = static_cast<int>(a.size());
        d.first_count = static_cast<int>(b.size());
        if (a.size() != b.size()) {
            *diff = d;
            return true;
        }
        for (size_t t = 0; t < a.size(); ++t) {
            if (a[t] != b[t]) {
                d.track = static_cast<int>(t) + 1;
                d.codec = avcodec_get_name(static_cast<AVCodecID>(a[t]));
                d.first_codec = avcodec_get_name(static_cast<AVCodecID>(b[t]));
                *diff = d;
                return true;
            }
        }
    }
    return false;
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

JoinMismatch CheckDirectJoinFiles(const std::vector<std::string>& paths)
{
    JoinMismatch result;
    if (paths.empty())
        return result;
    const StreamFacts first = ReadFacts(paths[0], true);
    result.copy_possible = first.copy_possible;
    // The tracks compare with the first file that can be read, the codecs
    // only with the first file itself.
    std::vector<std::vector<int>> first_layout;
    bool have_first_layout = first.has_layout;
    if (have_first_layout)
        first_layout = first.layout;
    for (size_t i = 1; i < paths.size(); ++i) {
        const StreamFacts other = ReadFacts(paths[i], false);
        if (other.has_layout && !have_first_layout) {
            first_layout = other.layout;
            have_first_layout = true;
        } else if (other.has_layout && !result.tracks_differ) {
            result.tracks_differ = CompareLayouts(first_layout, other.layout, i, &result.tracks);
        }
        if (result.input < 0 && first.has_facts && other.has_facts) {
            if (const JoinDifference how = Compare(first, other); how != JoinDifference::None) {
                result.input = static_cast<int>(i);
                result.how = how;
            }
        }
    }
    return result;
}

bool FindTrackLayoutDifference(const std::vector<std::string>& paths, LayoutDifference* diff)
{
    const JoinMismatch found = CheckDirectJoinFiles(paths);
    if (found.tracks_differ)
        *diff = found.tracks;
    return found.tracks_differ;
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
