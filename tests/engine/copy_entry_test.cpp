// SPDX-License-Identifier: GPL-3.0-or-later
// Where a direct copy enters a file: at the last key picture at or before
// the start, whatever the file's index lists, with the sound of that
// picture's second audible from its first packet on.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "av_handles.h"
#include "media_checks.h"
#include "media_input.h"
#include "seek.h"

namespace {

// The first key picture read after seeking `path` to `target_s`, seconds.
double KeyReadAfterSeek(const std::string& path, double target_s)
{
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk)
        return -1;
    const AVStream* vs = in.VideoStream();
    SeekAtOrBefore(in.format.get(), in.video_index, static_cast<int64_t>(target_s * AV_TIME_BASE));
    PacketPtr pkt = MakePacket();
    while (av_read_frame(in.format.get(), pkt.get()) >= 0) {
        const bool key = pkt->stream_index == in.video_index && (pkt->flags & AV_PKT_FLAG_KEY);
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        av_packet_unref(pkt.get());
        if (key)
            return ts * av_q2d(vs->time_base);
    }
    return -1;
}

// Onsets of the beeps of a file's sound as a player plays it: a sample
// above an eighth of full scale after 0.3 s without one, in seconds of the
// file's clock.
std::vector<double> BeepOnsets(const std::string& path)
{
    std::vector<double> onsets;
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk || !in.audio_dec)
        return onsets;
    const AVStream* as = in.AudioStream();
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    double last_loud = -1e9;
    const auto take = [&]() {
        while (avcodec_receive_frame(in.audio_dec.get(), frame.get()) >= 0) {
            const double start = frame->best_effort_timestamp * av_q2d(as->time_base);
            const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
            const int step = planar ? 1 : frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i) {
                double v = 0;
                switch (frame->format) {
                case AV_SAMPLE_FMT_FLTP:
                case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(frame->data[0])[i * step]; break;
                case AV_SAMPLE_FMT_S16P:
                case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(frame->data[0])[i * step] / 32768.0; break;
                default: break;
                }
                const double t = start + static_cast<double>(i) / frame->sample_rate;
                if (std::fabs(v) < 0.125)
                    continue;
                if (t - last_loud > 0.3)
                    onsets.push_back(t);
                last_loud = t;
            }
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == in.audio_index && avcodec_send_packet(in.audio_dec.get(), pkt.get()) >= 0)
            take();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(in.audio_dec.get(), nullptr);
    take();
    return onsets;
}

// The beep nearest `t`, relative to it.
double BeepFrom(const std::vector<double>& onsets, double t)
{
    double best = 1e9;
    for (double b : onsets)
        best = std::fabs(b - t) < std::fabs(best) ? b - t : best;
    return best;
}

}  // namespace

TEST(CopyEntry, TheSeekFindsTheLastKeyPictureAtOrBeforeTheTargetWhateverTheIndexLists)
{
    // The WMV's index lists a packet a second: 2.5 s is listed under 2 s,
    // whose key picture is the one of 1.36 s, a second before the one of 2.36 s.
    struct Case {
        const char* file;
        double target_s, key_s;
    };
    const Case cases[] = {
        {"keys_between_index.wmv", 1.4, 1.363}, {"keys_between_index.wmv", 2.5, 2.363},
        {"keys_between_index.wmv", 3.0, 2.643}, {"keys_between_index.wmv", 4.0, 3.643},
        {"keys_between_index.wmv", 0.5, 0.043}, {"h264_aac.mp4", 3.0, 2.0},
        {"h264_aac.mkv", 5.0, 4.023},           {"mpeg4_mp3.avi", 2.5, 2.04},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.target_s));
        EXPECT_NEAR(KeyReadAfterSeek(FixturePath(c.file), c.target_s), c.key_s, 0.002);
    }
}

class CopyEntryJob : public JobTest {};

// The beep of the copy's first picture is where the source has it, within
// the sound packet the copy can place it by: a decoder entering a sound
// stream mid-way needs the packet before (WMA's and MP3's packets carry bits
// of the next ones), or it plays that beep silent.
TEST_F(CopyEntryJob, TheBeepAtTheFirstPictureIsHeardWhereTheSourceHasIt)
{
    struct Case {
        const char* file;
        const char* start;
        const char* end;
        double allowed_ms;  // a sound packet and the onset's reading
    };
    const Case cases[] = {
        {"keys_between_index.wmv", "00:00:00.600", "00:00:02.000", 46.7},
        {"beeps_mp3.avi", "00:00:01.520", "00:00:03.000", 28.0},
        {"beeps_mp3.avi", "00:00:03.100", "00:00:04.500", 28.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " from " + c.start);
        const std::string source = FixturePath(c.file);
        const double key_s = KeyReadAfterSeek(source, std::stod(std::string(c.start).substr(6)));
        const double in_source = BeepFrom(BeepOnsets(source), key_s);
        ASSERT_LT(std::fabs(in_source), 0.1);  // the fixture beeps at its key pictures
        CutDirect(c.file, c.start, c.end);
        const double in_copy = BeepFrom(BeepOnsets(output), AnalyzeMedia(output).video_start_s);
        EXPECT_NEAR(in_copy * 1000, in_source * 1000, c.allowed_ms);
        TearDown();
        SetUp();
    }
}
