// SPDX-License-Identifier: GPL-3.0-or-later
#include "media_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "av_handles.h"
#include "conversion_job.h"
#include "job_setup.h"
#include "media_input.h"
#include "probe.h"
#include "worker.h"

std::string FixturePath(const std::string& name)
{
    if (!name.empty() && name.front() == '/')
        return name;  // made by the test itself
    const char* dir = std::getenv("MORVANE_FIXTURES");
    return std::string(dir ? dir : "fixtures") + "/" + name;
}

namespace {

// One folder per test process, so two runs of the suite at once (two
// checkouts, or a bench beside the tests) never share scratch files; it goes
// when the process ends.
const std::filesystem::path& ScratchRoot();

void RemoveScratchRoot()
{
    std::error_code ignored;
    std::filesystem::remove_all(ScratchRoot(), ignored);
}

const std::filesystem::path& ScratchRoot()
{
    static const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("morvane-test-" + std::to_string(getpid()));
    // Registered once the path exists, so it runs before the path is destroyed.
    static const bool removed_at_exit = std::atexit(RemoveScratchRoot) == 0;
    (void)removed_at_exit;
    return root;
}

}  // namespace

std::string MakeScratchFolder(const std::string& test_name)
{
    namespace fs = std::filesystem;
    const fs::path dir = ScratchRoot() / test_name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

SmallDisk::SmallDisk(const std::string& name, int kib)
{
    const std::string dir = MakeScratchFolder(name);
    const std::string options = "size=" + std::to_string(kib) + "k";
    if (geteuid() == 0 && mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0)
        path_ = dir;
}

SmallDisk::~SmallDisk()
{
    if (!path_.empty())
        umount2(path_.c_str(), MNT_DETACH);
}

namespace {

struct StreamTally {
    double start = -1;
    double end = 0;
    int frames = 0;
    int out_of_order = 0;
    int64_t samples = 0;
    std::vector<double> times;  // in decoding output order
    int64_t last_ts = AV_NOPTS_VALUE;
};

// The picture a decoder gives last, flushed, has no time where the file
// stores none (AVI with B-pictures): it follows the one before.
int64_t TimeOrNext(int64_t ts, int64_t* last, int64_t duration)
{
    if (ts == AV_NOPTS_VALUE && *last != AV_NOPTS_VALUE)
        ts = *last + duration;
    *last = ts;
    return ts;
}

void Note(StreamTally& t, const AVFrame* f, AVRational tb, int64_t duration)
{
    const int64_t ts = TimeOrNext(f->best_effort_timestamp, &t.last_ts, duration);
    if (ts == AV_NOPTS_VALUE)
        return;
    const double start = ts * av_q2d(tb);
    const double end = (ts + duration) * av_q2d(tb);
    if (t.start < 0 || start < t.start)
        t.start = start;
    t.end = std::max(t.end, end);
    if (!t.times.empty() && start <= t.times.back())
        ++t.out_of_order;
    t.times.push_back(start);
    t.samples += f->nb_samples;
    ++t.frames;
}

int64_t FrameDuration(const AVFrame* f, const AVStream* st, const AVCodecContext* dec)
{
    if (dec->codec_type == AVMEDIA_TYPE_AUDIO)
        return av_rescale_q(f->nb_samples, AVRational{1, dec->sample_rate}, st->time_base);
    if (f->pkt_duration > 0)
        return f->pkt_duration;
    const AVRational rate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    return rate.num ? av_rescale_q(1, av_inv_q(rate), st->time_base) : 0;
}

void Receive(AVCodecContext* dec, const AVStream* st, AVFrame* frame, StreamTally& t, int& errors)
{
    for (;;) {
        const int rc = avcodec_receive_frame(dec, frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return;
        if (rc < 0) {
            ++errors;
            return;
        }
        if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
            ++errors;
        Note(t, frame, st->time_base, FrameDuration(frame, st, dec));
        av_frame_unref(frame);
    }
}

void Feed(AVCodecContext* dec, const AVStream* st, const AVPacket* pkt, AVFrame* frame,
          StreamTally& t, int& errors)
{
    if (avcodec_send_packet(dec, pkt) < 0)
        ++errors;
    Receive(dec, st, frame, t, errors);
}

}  // namespace

MediaFacts AnalyzeMedia(const std::string& path)
{
    MediaFacts facts;
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk)
        return facts;
    facts.opened = true;
    AVStream* vs = in.VideoStream();
    AVStream* as = in.AudioStream();
    if (vs) {
        facts.video_codec = vs->codecpar->codec_id;
        facts.width = vs->codecpar->width;
        facts.height = vs->codecpar->height;
        const AVRational sar = av_guess_sample_aspect_ratio(in.format.get(), vs, nullptr);
        facts.display_aspect = facts.width * (sar.num > 0 ? av_q2d(sar) : 1.0) / std::max(facts.height, 1);
    }
    if (as)
        facts.audio_codec = as->codecpar->codec_id;
    AVCodecContext* adec = in.audio_decoder_open ? in.audio_dec.get() : nullptr;

    StreamTally video, audio;
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    while (av_read_frame(in.format.get(), pkt.get()) >= 0) {
        if (vs && pkt->stream_index == vs->index)
            Feed(in.video_dec.get(), vs, pkt.get(), frame.get(), video, facts.decode_errors);
        else if (adec && pkt->stream_index == as->index)
            Feed(adec, as, pkt.get(), frame.get(), audio, facts.decode_errors);
        av_packet_unref(pkt.get());
    }
    if (vs)
        Feed(in.video_dec.get(), vs, nullptr, frame.get(), video, facts.decode_errors);
    if (adec)
        Feed(adec, as, nullptr, frame.get(), audio, facts.decode_errors);

    facts.video_frames = video.frames;
    facts.pictures_out_of_order = video.out_of_order;
    std::sort(video.times.begin(), video.times.end());
    for (size_t i = 1; i < video.times.size(); ++i) {
        const double gap = video.times[i] - video.times[i - 1];
        facts.max_picture_gap_s = std::max(facts.max_picture_gap_s, gap);
        facts.min_picture_gap_s = i == 1 ? gap : std::min(facts.min_picture_gap_s, gap);
    }
    if (adec && adec->sample_rate > 0)
        facts.audio_played_s = static_cast<double>(audio.samples) / adec->sample_rate;
    facts.video_start_s = std::max(video.start, 0.0);
    facts.video_end_s = video.end;
    facts.audio_start_s = std::max(audio.start, 0.0);
    facts.audio_end_s = audio.end;
    return facts;
}

std::vector<uint8_t> LumaAt(const std::string& path, double seconds, int width, int height)
{
    std::vector<uint8_t> luma;
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk || !in.VideoStream())
        return luma;
    const AVStream* vs = in.VideoStream();
    AVCodecContext* dec = in.video_dec.get();
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    auto take = [&]() {
        while (luma.empty() && avcodec_receive_frame(dec, frame.get()) >= 0) {
            const double t = frame->best_effort_timestamp * av_q2d(vs->time_base);
            if (frame->best_effort_timestamp != AV_NOPTS_VALUE && t >= seconds - 0.001) {
                SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), width,
                                                 height, AV_PIX_FMT_GRAY8, SWS_BICUBIC, nullptr, nullptr, nullptr);
                luma.resize(static_cast<size_t>(width) * height);
                uint8_t* planes[4] = {luma.data()};
                int lines[4] = {width};
                sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, lines);
                sws_freeContext(sws);
            }
            av_frame_unref(frame.get());
        }
    };
    while (luma.empty() && av_read_frame(in.format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vs->index) {
            avcodec_send_packet(dec, pkt.get());
            take();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec, nullptr);
    take();
    return luma;
}

double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.empty() || a.size() != b.size())
        return 0;
    double squared = 0;
    for (size_t i = 0; i < a.size(); ++i)
        squared += (a[i] - b[i]) * (a[i] - b[i]);
    const double mse = squared / a.size();
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

bool ForEachDecodedPicture(const std::string& path, const std::function<void(FramePtr picture, double t)>& visit,
                           AVRational* time_base)
{
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return false;
    InputContextPtr fmt(raw);
    avformat_find_stream_info(fmt.get(), nullptr);
    const int vi = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0)
        return false;
    const AVStream* st = fmt->streams[vi];
    if (time_base)
        *time_base = st->time_base;
    CodecContextPtr dec(avcodec_alloc_context3(avcodec_find_decoder(st->codecpar->codec_id)));
    avcodec_parameters_to_context(dec.get(), st->codecpar);
    dec->pkt_timebase = st->time_base;
    if (avcodec_open2(dec.get(), dec->codec, nullptr) < 0)
        return false;
    PacketPtr pkt = MakePacket();
    int64_t last = AV_NOPTS_VALUE;
    const AVRational rate = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    const int64_t step = rate.num ? av_rescale_q(1, av_inv_q(rate), st->time_base) : 1;
    const auto drain = [&] {
        for (FramePtr f = MakeFrame(); avcodec_receive_frame(dec.get(), f.get()) >= 0; f = MakeFrame()) {
            f->best_effort_timestamp = TimeOrNext(f->best_effort_timestamp, &last, step);
            const double t = f->best_effort_timestamp * av_q2d(st->time_base);
            visit(std::move(f), t);
        }
    };
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vi && avcodec_send_packet(dec.get(), pkt.get()) >= 0)
            drain();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return true;
}

std::vector<DecodedPicture> DecodedPictures(const std::string& path, AVRational* time_base, double from_s, double to_s)
{
    std::vector<DecodedPicture> pictures;
    ForEachDecodedPicture(
        path,
        [&](FramePtr f, double t) {
            if (t >= from_s - 1e-6 && t < to_s - 1e-6)
                pictures.push_back({f->best_effort_timestamp, std::move(f)});
        },
        time_base);
    return pictures;
}

std::string IndependentDecoderComplaints(const std::string& path)
{
    const CliResult said = RunShell("ffmpeg -nostdin -v error -i " + Quoted(path) + " -f null - 2>&1");
    return said.exit_code == 0 ? said.output : said.output + " (exit status)";
}

ToneFacts AnalyzeTone(const std::string& path)
{
    ToneFacts tone;
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk || !in.audio_decoder_open)
        return tone;
    AVCodecContext* dec = in.audio_dec.get();
    std::vector<float> mono;
    int rate = 0;
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    auto take = [&]() {
        while (avcodec_receive_frame(dec, frame.get()) >= 0) {
            rate = rate ? rate : frame->sample_rate;
            SwrContext* swr = nullptr;
            AVChannelLayout out_layout = AV_CHANNEL_LAYOUT_MONO;
            swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_FLT, rate, &frame->ch_layout,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
            if (swr && swr_init(swr) >= 0) {
                std::vector<float> part(static_cast<size_t>(swr_get_out_samples(swr, frame->nb_samples)) + 256);
                uint8_t* out[1] = {reinterpret_cast<uint8_t*>(part.data())};
                const int n = swr_convert(swr, out, static_cast<int>(part.size()),
                                          const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                mono.insert(mono.end(), part.begin(), part.begin() + std::max(n, 0));
            }
            swr_free(&swr);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == in.audio_index) {
            avcodec_send_packet(dec, pkt.get());
            take();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec, nullptr);
    take();
    if (rate <= 0)
        return tone;
    tone.seconds = static_cast<double>(mono.size()) / rate;
    const size_t window = static_cast<size_t>(rate / 2);
    for (size_t start = 0; start + window <= mono.size(); start += window) {
        double energy = 0;
        int rises = 0;
        for (size_t i = start; i < start + window; ++i) {
            energy += mono[i] * mono[i];
            rises += i > 0 && mono[i - 1] < 0 && mono[i] >= 0;
        }
        if (std::sqrt(energy / window) >= 0.01)  // not silence
            tone.window_hz.push_back(rises * 2.0);
    }
    return tone;
}

int ToneFacts::WindowsNear(double hz, double tolerance) const
{
    return static_cast<int>(std::count_if(window_hz.begin(), window_hz.end(),
                                          [&](double w) { return std::abs(w - hz) <= tolerance; }));
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

std::string CommandOutput(const std::string& command)
{
    return RunShell(command + " 2>&1").output;
}

CliResult RunCli(const std::string& arguments)
{
    const char* cli = std::getenv("MORVANE_CLI");
    return RunShell(std::string(cli ? cli : "morvane-cli") + " " + arguments + " 2>&1");
}

CliResult RunShell(const std::string& command)
{
    CliResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void JobTest::SetUp()
{
    job = new ConversionJob();
    InitConversionJob(job);
    folder = MakeScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

void JobTest::TearDown()
{
    FreePathArray(job->input_paths, job->input_count);
    FreePathArray(job->output_paths, job->input_count);
    delete job;
}

void JobTest::Cut(const std::string& name, const std::string& start, const std::string& end,
                  const EncodingChoice& choice, const std::string& title, const std::string& extension)
{
    ASSERT_EQ(FillCutJob(job, FixturePath(name), start, end, {folder, title, extension}, choice, &output),
              LaunchRefusal::None);
    Run(false);
}

void JobTest::CutDirect(const std::string& name, const std::string& start, const std::string& end)
{
    Cut(name, start, end, DefaultCutChoice("k"));
    ASSERT_EQ(Status(0), kInputDone) << name;
}

void JobTest::JoinDirect(const std::vector<std::string>& names)
{
    EncodingChoice choice = DefaultJoinChoice();
    choice.direct = true;
    Join(names, choice);
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(Status(static_cast<int>(i)), kInputDone) << i;
}

void JobTest::Join(const std::vector<std::string>& names, const EncodingChoice& choice, bool any_kind)
{
    std::vector<JoinRow> rows;
    for (const std::string& name : names) {
        std::string path = FixturePath(name);
        job->probe_path = path.data();
        ASSERT_EQ(ProbeMedia(job), 0) << name;
        job->probe_path = const_cast<char*>("");
        rows.push_back(MakeJoinRow(path, *job));
        if (any_kind) {
            rows.back().width = rows.front().width;
            rows.back().height = rows.front().height;
        }
    }
    ASSERT_EQ(FillJoinJob(job, rows, {folder, "joined", ".mp4"}, choice, &output), LaunchRefusal::None);
    Run(true);
}

void JobTest::Run(bool join)
{
    MarkJobStarting(job, join);
    StartConversionWorker(job).join();
}

void JobTest::ReplaceInput(int i, const std::string& path)
{
    std::free(job->input_paths[i]);
    job->input_paths[i] = CopyPathText(path.c_str());
}

uint8_t JobTest::Status(int i) const { return job->input_status[i]; }
