// SPDX-License-Identifier: GPL-3.0-or-later
#include "join_check.h"

#include "media_input.h"
#include "probe.h"
#include "dropped_track.h"

namespace {

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

JoinDifference Compare(const InputFacts& first, const InputFacts& other)
{
    const StreamParams &fv = first.video, &ov = other.video, &fa = first.audio, &oa = other.audio;
    if (!fv.codec_id != !ov.codec_id || !fa.codec_id != !oa.codec_id)
        return JoinDifference::Tracks;
    if (fv.codec_id) {
        if (fv.codec_id != ov.codec_id)
            return JoinDifference::VideoCodec;
        // The decoder keeps the first file's set-up for the whole output.
        if (fv.profile != ov.profile || (fv.video_delay > 0) != (ov.video_delay > 0) || fv.width != ov.width ||
            fv.height != ov.height || fv.extradata != ov.extradata)
            return JoinDifference::VideoSettings;
    }
    if (fa.codec_id) {
        if (fa.codec_id != oa.codec_id)
            return JoinDifference::AudioCodec;
        if (fa.sample_rate != oa.sample_rate)
            return JoinDifference::SampleRate;
        if (fa.channels != oa.channels)
            return JoinDifference::Channels;
        if (fa.profile != oa.profile || fa.extradata != oa.extradata)
            return JoinDifference::AudioCodec;
    }
    return JoinDifference::None;
}

}  // namespace

JoinMismatch CheckDirectJoinFiles(const std::vector<InputFacts>& files)
{
    JoinMismatch result;
    if (files.empty())
        return result;
    const InputFacts& first = files[0];
    result.copy_possible = !first.Readable() || first.direct_copy_possible;
    // The tracks compare with the first file that can be read, the codecs
    // only with the first file itself.
    const std::vector<std::vector<int>>* first_layout = first.Readable() ? &first.layout : nullptr;
    for (size_t i = 1; i < files.size(); ++i) {
        const InputFacts& other = files[i];
        if (!other.Readable())
            continue;
        if (!first_layout)
            first_layout = &other.layout;
        else if (!result.tracks_differ)
            result.tracks_differ = CompareLayouts(*first_layout, other.layout, i, &result.tracks);
        if (result.input < 0 && first.Readable()) {
            if (const JoinDifference how = Compare(first, other); how != JoinDifference::None) {
                result.input = static_cast<int>(i);
                result.how = how;
            }
        }
    }
    return result;
}

JoinMismatch CheckDirectJoinFiles(const std::vector<std::string>& paths)
{
    std::vector<InputFacts> files(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        ReadInputFacts(paths[i], &files[i]);
    return CheckDirectJoinFiles(files);
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

std::string DescribeLayoutDifference(const LayoutDifference& d)
{
    const std::string kind = TrackKindName(d.kind);
    if (d.track == 0)
        return std::to_string(d.count) + " " + kind + " track(s), the first file has " + std::to_string(d.first_count);
    return kind + " track " + std::to_string(d.track) + " is " + d.codec + ", in the first file " + d.first_codec;
}
