// SPDX-License-Identifier: GPL-3.0-or-later
// Where a direct copy enters a file: at the last key picture at or before
// the start, whatever the file's index lists, with the sound of that
// picture's second audible from its first packet on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "av_handles.h"
#include "held_length.h"
#include "media_checks.h"
#include "media_input.h"
#include "mp3_entry.h"
#include "seek.h"

namespace {

std::vector<PacketPtr> AllPackets(const std::string& path)
{
    std::vector<PacketPtr> packets;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0)
        return packets;
    InputContextPtr format(raw);
    for (PacketPtr pkt = MakePacket(); pkt && av_read_frame(raw, pkt.get()) >= 0; pkt = MakePacket())
        packets.push_back(std::move(pkt));
    return packets;
}

// The samples of the first channel each packet decodes to, decoded one
// after the other by a fresh MP3 decoder.
std::vector<std::vector<float>> DecodeMp3(const std::vector<const AVPacket*>& packets)
{
    std::vector<std::vector<float>> decoded;
    CodecContextPtr dec(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_MP3)));
    if (!dec || avcodec_open2(dec.get(), dec->codec, nullptr) < 0)
        return decoded;
    dec->request_sample_fmt = AV_SAMPLE_FMT_FLTP;
    FramePtr frame = MakeFrame();
    for (const AVPacket* p : packets) {
        std::vector<float> samples;
        if (avcodec_send_packet(dec.get(), p) >= 0)
            while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
                const auto* ch0 = reinterpret_cast<const float*>(frame->data[0]);
                samples.insert(samples.end(), ch0, ch0 + frame->nb_samples);
                av_frame_unref(frame.get());
            }
        decoded.push_back(std::move(samples));
    }
    return decoded;
}

double Energy(const std::vector<float>& samples)
{
    double sum = 0;
    for (float v : samples)
        sum += static_cast<double>(v) * v;
    return sum;
}

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

// MPEG-4 with B-pictures packed as Xvid writes them, entered at a key
// picture whose packet carries a leading B-picture (the key pictures of 2
// and 4 s, shown at 2.16 and 4.16 s): the copy keeps the placeholder that
// brings that picture out of the decoder, so every picture from the key
// picture on is the source's own, each as long after the first as in the
// source. Left out, every picture after it came out a packet late, garbled.
TEST_F(CopyEntryJob, PackedPicturesEnteredAtAKeyPictureCarryingALeadingOneAreTheSourcesOwn)
{
    const char* const name = "exact_xvid_packed.avi";
    for (const auto& [start, end] : {std::pair{"00:00:02.160", "00:00:03.500"}, {"00:00:04.160", "00:00:05.500"}}) {
        SCOPED_TRACE(start);
        const double key_s = std::stod(std::string(start).substr(6));
        CutDirect(name, start, end);
        AVRational source_tb{}, copy_tb{};
        const std::vector<DecodedPicture> source = DecodedPictures(FixturePath(name), &source_tb, key_s - 0.001);
        const std::vector<DecodedPicture> copy = DecodedPictures(output, &copy_tb);
        ASSERT_GE(copy.size(), 25u);
        ASSERT_GE(source.size(), copy.size());
        EXPECT_EQ(IndependentDecoderComplaints(output), "");
        int differing = 0, mistimed = 0;
        for (size_t i = 0; i < copy.size(); ++i) {
            const AVFrame* a = copy[i].frame.get();
            const AVFrame* b = source[i].frame.get();
            bool same = a->width == b->width && a->height == b->height;
            for (int y = 0; same && y < a->height; ++y)
                same = std::memcmp(a->data[0] + y * a->linesize[0], b->data[0] + y * b->linesize[0], a->width) == 0;
            differing += !same;
            const double copy_after = (copy[i].pts - copy[0].pts) * av_q2d(copy_tb);
            const double source_after = (source[i].pts - source[0].pts) * av_q2d(source_tb);
            mistimed += std::fabs(copy_after - source_after) > 0.001;
        }
        EXPECT_EQ(differing, 0);
        EXPECT_EQ(mistimed, 0);
        TearDown();
        SetUp();
    }
}

// AVI counts its packets' times from where its reading starts: what a file
// holds is measured from a time seek into its last seconds (its index leads
// there), not from its last megabyte by bytes, where the times would start
// again at zero and a file of 1.5 MB seem to hold a second. A cut late in
// such a file is done, whole.
TEST_F(CopyEntryJob, ALateCutOfAnAviLargerThanTheStretchReadAtItsEndIsDone)
{
    for (const char* name : {"exact_mpeg4_b.avi", "exact_xvid_packed.avi"}) {
        SCOPED_TRACE(name);
        MediaInput in;
        ASSERT_EQ(OpenMediaInput(FixturePath(name).c_str(), in, 1), kProbeOk);
        EXPECT_NEAR(MeasuredHeldSeconds(in, FixturePath(name).c_str()), 6.04, 0.05);
        CutDirect(name, "00:00:04.160", "00:00:05.500");
        EXPECT_GT(AnalyzeMedia(output).VideoSeconds(), 1.2);
        TearDown();
        SetUp();
    }
}

// A frame entered mid-stream plays as it does in the whole stream once it
// holds the bytes it reaches back for; so do the frames after it, which
// reach back into it. MPEG-1 at 44.1 kHz and at a low rate (a reach of
// many small frames), MPEG-2 stereo.
TEST(Mp3Entry, AFrameRewrittenToHoldItsReservoirDecodesAloneAsInTheWholeStream)
{
    for (const char* name : {"audio_only.mp3", "reservoir_mono.mp3", "reservoir_lsf.mp3"}) {
        SCOPED_TRACE(name);
        const std::vector<PacketPtr> packets = AllPackets(FixturePath(name));
        ASSERT_GT(packets.size(), 40u);
        std::vector<const AVPacket*> all;
        for (const PacketPtr& p : packets)
            all.push_back(p.get());
        const std::vector<std::vector<float>> whole = DecodeMp3(all);
        // The frame reaching back furthest, with frames after it.
        size_t k = 10;
        for (size_t i = 10; i + 4 < packets.size(); ++i)
            if (Mp3BytesReachedBack(all[i]->data, all[i]->size) > Mp3BytesReachedBack(all[k]->data, all[k]->size))
                k = i;
        ASSERT_GT(Mp3BytesReachedBack(all[k]->data, all[k]->size), 0);
        std::vector<uint8_t> before;
        for (size_t i = 0; i < k; ++i) {
            const std::vector<uint8_t> main = Mp3MainData(all[i]->data, all[i]->size);
            before.insert(before.end(), main.begin(), main.end());
        }
        PacketPtr entry = MakePacket();
        ASSERT_GE(av_packet_ref(entry.get(), all[k]), 0);
        // Entered as it is, the frame plays (almost) silent.
        const double heard = Energy(whole[k]);
        EXPECT_LT(Energy(DecodeMp3({entry.get()})[0]), heard / 4);

        ASSERT_TRUE(MakeMp3FrameSelfContained(entry.get(), before));
        EXPECT_EQ(Mp3BytesReachedBack(entry->data, entry->size), 0);
        const std::vector<std::vector<float>> alone = DecodeMp3({entry.get(), all[k + 1], all[k + 2], all[k + 3]});
        ASSERT_EQ(alone.size(), 4u);
        // It is heard, if faintly: its samples overlap nothing before them,
        // and a frame of MPEG-2 is a single granule, the one the filter bank
        // fades in. The frame after it is heard nearly in full.
        EXPECT_GT(Energy(alone[0]), heard / 50);
        EXPECT_GT(Energy(alone[1]), Energy(whole[k + 1]) / 2);
        // The filter bank's memory reaches a granule back (one frame of MPEG-2).
        for (size_t j = 2; j < 4; ++j) {
            ASSERT_EQ(alone[j].size(), whole[k + j].size());
            for (size_t n = 0; n < alone[j].size(); ++n)
                ASSERT_NEAR(alone[j][n], whole[k + j][n], 1e-5) << "frame " << k + j << ", sample " << n;
        }
    }
}

TEST(Mp3Entry, WithoutTheBytesItReachesBackForOrAsAnotherCodecAFrameStaysAsItIs)
{
    const std::vector<PacketPtr> packets = AllPackets(FixturePath("audio_only.mp3"));
    ASSERT_GT(packets.size(), 12u);
    const AVPacket* frame = packets[10].get();
    const int reach = Mp3BytesReachedBack(frame->data, frame->size);
    ASSERT_GT(reach, 1);
    PacketPtr copy = MakePacket();
    ASSERT_GE(av_packet_ref(copy.get(), frame), 0);
    EXPECT_FALSE(MakeMp3FrameSelfContained(copy.get(), std::vector<uint8_t>(reach - 1, 0)));
    EXPECT_EQ(copy->size, frame->size);
    EXPECT_EQ(Mp3BytesReachedBack(copy->data, copy->size), reach);

    const std::vector<PacketPtr> aac = AllPackets(FixturePath("audio_only.m4a"));
    ASSERT_FALSE(aac.empty());
    EXPECT_EQ(Mp3BytesReachedBack(aac[5]->data, aac[5]->size), -1);
    EXPECT_TRUE(Mp3MainData(aac[5]->data, aac[5]->size).empty());
    EXPECT_EQ(Mp3BytesReachedBack(nullptr, 0), -1);
}
