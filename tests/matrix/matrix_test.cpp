// SPDX-License-Identifier: GPL-3.0-or-later
// One table of checks: modes x kinds of source x jobs x tracks, each cell
// run through the command-line tool and judged by the ffmpeg programs'
// decode of what it wrote. `matrix_tests --table` prints every cell's result.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "oracle.h"

extern char** environ;

namespace {
using oracle::Facts;

enum class Job { Source, Cut, Join, Spans, Separate, Stop };
const char* const kJobNames[] = {"source", "cut", "join", "spans", "separate", "stop"};

struct Span {
    double from, to;
};
const Span kCut = {1.52, 4.28};
const std::vector<Span> kSpans = {{0.60, 1.60}, {2.40, 3.20}, {4.20, 5.40}};
constexpr int kSourcePictures = 150;
constexpr int kStopCopies = 200;

// What an exact cut takes, by the tool's own promise: H.264, HEVC, MPEG-2, VP9
// and MPEG-4 Part 2 (packed B-frames included) in their usual containers,
// transport and program streams included.
const char* const kExactSources[] = {"h264.mp4",      "h264.mov",      "h264.mkv",      "tracks.mkv", "h264_late.mkv",
                                     "h264_late.ts",  "h264_open.mp4", "h264_open.mkv", "hevc.mp4",   "hevc10.mkv",
                                     "hevc_late.mp4", "mpeg2.ts",      "mpeg2.mpg",     "mpeg4_b.avi",   "mpeg4.avi",     "mpeg4.mp4",
                                     "mpeg4_packed.avi", "mpeg4_late.mkv", "vp9.mkv",     "av1.mkv",       "av1.mp4",      "h264_tff.ts",   "h264_wrap.ts",  "tv.ts"};
const char* const kSources[] = {"h264.mp4",      "h264.mov",      "h264.mkv",       "h264.3gp",      "h264.flv",
                                "h264_late.mkv", "h264_late.ts",  "h264_open.mp4",  "h264_open.mkv", "hevc.mp4",
                                "hevc10.mkv",    "hevc_late.mp4", "mpeg2.ts",       "mpeg2.mpg",     "mpeg4_b.avi",
                                "mpeg4.avi",     "mpeg4.mp4",     "mpeg4_late.mkv", "vp9.mkv",       "h263.3gp",
                                "flv1.flv",      "wmv2.wmv",      "tracks.mkv",     "av1.mkv",       "av1.mp4",       "h264_tff.ts",    "h264_wrap.ts",   "tv.ts"};

// MPEG-4 with B-frames packed as Xvid writes them. Its own sound starts
// ahead of its picture (the encoder held its first pictures back), so the
// source itself is not a cell; its direct runs from its first picture are
// known faults.
const char* const kExactOnlySources[] = {"mpeg4_packed.avi"};

bool ExactCapable(const std::string& source)
{
    return std::find(std::begin(kExactSources), std::end(kExactSources), source) != std::end(kExactSources);
}

struct Cell {
    std::string source;
    std::string mode;  // direct, exact, f0 ... f6
    Job job;
    std::string known_fault;  // what goes wrong today, from kKnownFaults

    std::string Name() const
    {
        std::string name = mode + "_" + kJobNames[static_cast<int>(job)] + "_" + source;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    }
    bool Reencodes() const { return mode[0] == 'f'; }
    friend void PrintTo(const Cell& c, std::ostream* os) { *os << c.Name(); }
    bool Exact() const { return mode == "exact" && ExactCapable(source); }
};

// Cells the engine gets wrong today, each with what goes wrong. They run and
// are reported as skipped with what was measured.
struct KnownFault {
    const char* what;
    std::vector<const char*> cells;
};
const std::vector<KnownFault> kKnownFaults = {
    {"packed B-pictures: a copied run from the file's first picture sounds that picture's beep 33 ms before it "
     "(the source 57 ms: its sound leads its first picture, and AVI starts a run's sound a picture before its "
     "first is shown), a join's later inputs 57 ms (the seam's one-packet gap is filled with the input's first "
     "sound packet, which holds that beep's end)",
     {"direct_join_mpeg4_packed_avi", "direct_spans_mpeg4_packed_avi", "direct_separate_mpeg4_packed_avi"}},
};

std::string KnownFaultOf(const std::string& cell)
{
    for (const KnownFault& k : kKnownFaults)
        for (const char* c : k.cells)
            if (cell == c)
                return k.what;
    return "";
}

// The meaningful combinations: every source through every job directly,
// the exact-capable ones exactly (the others once, to see them fall back),
// each format's re-encode of one source through every job and of every
// source once, and each format's re-encode of the file with every track.
std::vector<Cell> Table()
{
    std::vector<Cell> cells;
    const auto add = [&](const std::string& source, const std::string& mode, Job job) {
        Cell c{source, mode, job, ""};
        c.known_fault = KnownFaultOf(c.Name());
        cells.push_back(c);
    };
    for (const char* s : kSources) {
        add(s, "source", Job::Source);
        for (Job j : {Job::Cut, Job::Join, Job::Spans, Job::Separate})
            add(s, "direct", j);
        if (!ExactCapable(s))
            add(s, "exact", Job::Cut);
        else
            for (Job j : {Job::Cut, Job::Spans, Job::Separate})
                add(s, "exact", j);
        add(s, "f1", Job::Cut);
    }
    for (const char* s : kExactOnlySources) {
        for (Job j : {Job::Cut, Job::Join, Job::Spans, Job::Separate})
            add(s, "direct", j);
        for (Job j : {Job::Cut, Job::Spans, Job::Separate})
            add(s, "exact", j);
        add(s, "f1", Job::Cut);
    }
    for (int f = 0; f <= 6; ++f) {
        const std::string mode = "f" + std::to_string(f);
        for (Job j : {Job::Cut, Job::Join, Job::Spans})
            if (f != 1 || j != Job::Cut)
                add("h264.mp4", mode, j);
        if (f != 1)
            add("tracks.mkv", mode, Job::Cut);
    }
    add("h264.mp4", "f0", Job::Separate);
    add("corrupt.ts", "direct", Job::Cut);
    add("corrupt.ts", "f1", Job::Cut);
    add("h264.mp4", "f0", Job::Stop);
    return cells;
}

// An environment variable, else the build's own value.
std::string Setting(const char* name, const char* built)
{
    const char* value = std::getenv(name);
    return value && *value ? value : built;
}

std::string MediaPath(const std::string& name)
{
    return Setting("MORVANE_MATRIX_MEDIA", MORVANE_MATRIX_MEDIA) + "/" + name;
}

std::string Seconds(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    return text;
}

// What one cell should hold, worked out from its mode, job and source.
struct Expected {
    struct Run {
        int first_lo, first_hi, last_lo, last_hi;  // source picture numbers
    };
    std::vector<Run> runs;    // of every output, one after the other
    std::vector<Span> kept;   // the source's time each run holds
    int holes = 0;            // pictures that must be left out (a damaged one)
    bool repeats = false;     // a picture may be shown twice at a seam
    double sync_ms = 0;       // at every beep, seams included
    bool falls_back = false;  // says it cuts at key pictures instead
    std::string tracks;       // the track signature, empty: one picture and one sound
    bool chapters = true;     // the output's container holds chapters
};

// The source picture shown at `t` on the source's clock, and the first one
// shown from `t` on: a cut point between two picture times may take either.
int ShownAt(const Facts& f, double t)
{
    int n = f.pictures.front().number;
    for (const oracle::Picture& p : f.pictures)
        n = p.t <= t + 1e-4 ? p.number : n;
    return n;
}
int FirstFrom(const Facts& f, double t)
{
    for (const oracle::Picture& p : f.pictures)
        if (p.t >= t - 1e-4)
            return p.number;
    return f.pictures.back().number;
}
// The last picture that starts before `t`, and the last one that ends by it.
std::pair<int, int> LastBefore(const Facts& f, double t)
{
    int starts = f.pictures.front().number, ends = starts;
    for (const oracle::Picture& p : f.pictures) {
        starts = p.t < t - 1e-4 ? p.number : starts;
        ends = p.t + 1 / oracle::kFps <= t + 1e-4 ? p.number : ends;
    }
    return {std::min(starts, ends), std::max(starts, ends)};
}
bool ByteSeeked(const std::string& source)
{
    return source.find(".ts") != std::string::npos || source.find(".mpg") != std::string::npos;
}

double TimeOf(const Facts& f, int number)
{
    for (const oracle::Picture& p : f.pictures)
        if (p.number == number)
            return p.t;
    return f.start_s;
}

// Which tracks each format's re-encode of the file with every track keeps:
// every sound track, text subtitles as the format's own, bitmap ones where
// the container takes them, no attachment; FLV holds one sound track.
const char* const kReencodedTracks[] = {
    "a:deu a:eng* s:eng v", "a:deu a:eng* s:eng v",       "a a v", "a v", "a:deu a:eng v",
    "a:deu a:eng* s:eng v", "a:deu a:eng* s:eng s:fra! v"};

double SoundPacketMs(const std::string& codec, int rate)
{
    const int samples = codec == "aac"                          ? 1024
                        : codec == "ac3"                        ? 1536
                        : codec == "vorbis" || codec == "wmav2" ? 2048
                                                                : 1152;
    return 1000.0 * samples / (rate > 0 ? rate : 48000);
}

Expected Expect(const Cell& c, const Facts& source)
{
    Expected e;
    const double origin = source.start_s;
    const bool whole = c.job == Job::Join || c.job == Job::Source;
    const std::vector<Span> spans = c.job == Job::Cut ? std::vector<Span>{kCut}
                                    : whole           ? std::vector<Span>(c.job == Job::Join ? 3 : 1, Span{0, 1e9})
                                                      : kSpans;
    const bool from_key = (c.mode == "direct" || c.mode == "exact") && !c.Exact() && !whole;
    for (const Span& s : spans) {
        if (whole) {
            e.runs.push_back({source.pictures.front().number, source.pictures.front().number,
                              source.pictures.back().number, source.pictures.back().number});
            e.kept.push_back({0, 1e9});
            continue;
        }
        int first_lo = ShownAt(source, origin + s.from), first_hi = FirstFrom(source, origin + s.from);
        double from = s.from;
        if (from_key) {  // the key picture at or before the start, for the span's length
            for (const oracle::Picture& p : source.pictures)
                first_hi = p.key && p.t <= origin + s.from + 1e-4 ? p.number : first_hi;
            // Transport and program streams are entered by bytes, which may
            // land a key picture earlier (never after the start).
            first_lo = ByteSeeked(c.source) ? ShownAt(source, origin + s.from - 1) : first_hi;
            from = TimeOf(source, first_hi) - origin;
        }
        auto [last_lo, last_hi] = LastBefore(source, origin + from + (s.to - s.from));
        // A copy ends at the first picture shown after all it wrote: pictures
        // reordered behind the last one may come along.
        if (from_key)
            last_lo -= 1 + (first_hi - first_lo), last_hi += 3;
        e.runs.push_back({std::min(first_lo, first_hi), std::max(first_lo, first_hi), last_lo, last_hi});
        e.kept.push_back({from, from + s.to - s.from});
    }
    e.falls_back = c.mode == "exact" && !ExactCapable(c.source);
    // The picture flagged corrupt is left out (a re-encode may show the one
    // before it again in its place).
    e.holes = c.source == "corrupt.ts" ? 1 : 0;
    // A re-encoded join keeps the sound in step by showing a picture again.
    e.repeats = c.Reencodes() && (c.job == Job::Join || e.holes);
    if (c.source == "tracks.mkv")
        e.tracks = c.Reencodes() ? kReencodedTracks[c.mode[1] - '0'] : source.TrackSignature();
    else if (c.source == "tv.ts")  // MP4 takes no DVB subtitles; the main sound (the last) comes first
        e.tracks = c.Reencodes() ? "a:deu* a:eng v" : source.TrackSignature();
    e.chapters = !(c.mode == "f2" || c.mode == "f3");
    return e;
}

struct Outcome {
    std::vector<std::string> problems;
    std::string measured;  // one line: pictures, sync, tracks, complaints
};

void Check(bool ok, const std::string& problem, Outcome* o)
{
    if (!ok)
        o->problems.push_back(problem);
}

std::string Ms(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f ms", ms);
    return text;
}

// The output's pictures against the runs expected of it.
void CheckPictures(const Facts& f, const Expected& e, size_t run, size_t runs, Outcome* o)
{
    const std::vector<Expected::Run> want(e.runs.begin() + run, e.runs.begin() + run + runs);
    Check(f.unreadable == 0, std::to_string(f.unreadable) + " pictures do not read back as a source picture", o);
    // A damaged picture left out splits its run in two; a picture shown
    // again at a seam is a run of its own.
    std::vector<oracle::Segment> got = f.segments;
    int holes = 0;
    for (size_t i = 1; i < got.size();) {
        const bool repeat = e.repeats && got[i].first == got[i].last && got[i].first == got[i - 1].last;
        if (repeat) {
            got.erase(got.begin() + i);
        } else if (holes < e.holes && got[i].first == got[i - 1].last + 2) {
            got[i - 1].last = got[i].last;
            got.erase(got.begin() + i);
            ++holes;
        } else {
            ++i;
        }
    }
    bool same = got.size() == want.size() && holes == e.holes;
    for (size_t i = 0; same && i < want.size(); ++i)
        same = got[i].first >= want[i].first_lo && got[i].first <= want[i].first_hi && got[i].last >= want[i].last_lo &&
               got[i].last <= want[i].last_hi;
    std::string wanted;
    const auto range = [](int lo, int hi) {
        return lo == hi ? std::to_string(lo) : std::to_string(lo) + ".." + std::to_string(hi);
    };
    for (const Expected::Run& r : want)
        wanted += (wanted.empty() ? "" : " ") + range(r.first_lo, r.first_hi) + "-" + range(r.last_lo, r.last_hi);
    Check(same, "pictures " + f.Runs() + ", expected " + wanted + (e.holes ? " less one picture" : ""), o);
    // Each picture is shown until the next: a seam leaves no hole in their
    // times (a damaged picture left out leaves its own). Within a run the
    // times are the source's own (an AVI writer's skipped second frame).
    int time_holes = 0;
    double widest = 0;
    for (size_t i = 1; i < f.pictures.size(); ++i) {
        const double gap = f.pictures[i].t - f.pictures[i - 1].t;
        if (f.pictures[i].number == f.pictures[i - 1].number + 1 || gap <= 1.5 / oracle::kFps)
            continue;
        ++time_holes;
        widest = std::max(widest, gap);
    }
    Check(time_holes <= e.holes,
          "picture times leave " + std::to_string(time_holes) + " holes at seams, the widest " + Ms(widest * 1000), o);
}

// A beep against the source's own at the same picture: a source may hold
// its sound off its pictures (an AVI's MP3 keeps its encoder's delay, its
// writer skipped a picture), and what is made of it keeps that. Without a
// source (the source's own cell) the beep is held to the picture itself, and
// so is one the source sounds before a run's first picture: the run starts
// with its picture, so what is heard of that beep is only its end. The first
// picture's beep comes late by the sound codec's start-up delay where the
// sound starts; after a seam the decoder runs on and it does not recur.
double FromSource(const Facts& f, const Facts* source, size_t k, const oracle::BeepSync& b)
{
    if (!source || source->sounds.empty())
        return b.ms;
    const int like = b.number == 0 && b.segment > 0 ? static_cast<int>(oracle::kFps) : b.number;
    const double own = source->SyncAtPicture(std::min(k, source->sounds.size() - 1), like);
    const bool cut_off = own < 0 && b.number == f.segments[b.segment].first;
    return std::isnan(own) || cut_off ? b.ms : b.ms - own;
}

// Per sound track and run, the beep furthest from the source's own.
std::vector<std::vector<double>> WorstFromSource(const Facts& f, const Facts* source)
{
    std::vector<std::vector<double>> worst(f.sounds.size(), std::vector<double>(f.segments.size(), 0));
    for (size_t k = 0; k < f.beep_syncs.size(); ++k)
        for (const oracle::BeepSync& b : f.beep_syncs[k]) {
            const double ms = FromSource(f, source, k, b);
            double& w = worst[k][b.segment];
            w = std::fabs(ms) > std::fabs(w) ? ms : w;
        }
    return worst;
}

void CheckSound(const Facts& f, const Facts* source, const Expected& e, Outcome* o)
{
    const std::vector<std::vector<double>> worst = WorstFromSource(f, source);
    for (size_t k = 0; k < f.sounds.size(); ++k)
        for (size_t i = 0; i < f.segments.size(); ++i) {
            const oracle::Segment& s = f.segments[i];
            Check(std::fabs(worst[k][i]) <= e.sync_ms,
                  "sound " + std::to_string(k + 1) + " off by " + Ms(worst[k][i]) + (source ? " from the source's own" : "") +
                      " in pictures " + std::to_string(s.first) + "-" + std::to_string(s.last) + " (allowed " +
                      Ms(e.sync_ms) + ")",
                  o);
            Check(s.beeps_missing[k] == 0,
                  "sound " + std::to_string(k + 1) + " misses " + std::to_string(s.beeps_missing[k]) +
                      " beeps in pictures " + std::to_string(s.first) + "-" + std::to_string(s.last),
                  o);
        }
    // The sound lasts as long as the picture, within a packet and a picture.
    for (size_t k = 0; k < f.sounds.size() && !f.pictures.empty(); ++k) {
        const double end = f.sounds[k].start_s + f.sounds[k].played_s;
        Check(std::fabs(end - f.VideoEndS()) * 1000 <= e.sync_ms + 1000 / oracle::kFps,
              "sound " + std::to_string(k + 1) + " ends " + Ms((end - f.VideoEndS()) * 1000) + " from the picture", o);
    }
}

// Chapters start where the picture of their source time is shown (within a
// picture); the chapters and cues of the source that overlap what was kept
// are all there.
void CheckChaptersAndCues(const Facts& f, const Facts& source, const Expected& e, const std::vector<Span>& kept,
                          Outcome* o)
{
    for (const oracle::Chapter& ch : f.chapters) {
        if (ch.start_s <= f.pictures.front().t + 1e-3)
            continue;
        const auto shown = std::find_if(f.pictures.begin(), f.pictures.end(),
                                        [&](const oracle::Picture& p) { return p.t >= ch.start_s - 1e-3; });
        const int n = shown == f.pictures.end() ? -1 : shown->number;
        // A chapter begun before a span starts with it.
        const bool at_seam =
            std::any_of(f.segments.begin(), f.segments.end(), [&](const oracle::Segment& s) { return s.first == n; });
        Check(n >= 0 && (std::min(n % 50, 50 - n % 50) <= 1 || at_seam),
              "chapter " + ch.title + " starts at picture " + std::to_string(n) + ", not at a 2 s boundary", o);
    }
    const double origin = source.start_s;
    int chapters_kept = 0;
    for (const oracle::Chapter& ch : source.chapters)
        for (const Span& s : kept)
            chapters_kept += e.chapters && ch.start_s < origin + s.to - 0.02 && ch.end_s > origin + s.from + 0.02;
    Check(static_cast<int>(f.chapters.size()) == chapters_kept,
          std::to_string(f.chapters.size()) + " chapters, expected " + std::to_string(chapters_kept), o);
    for (int track = 0; track < f.Count("subtitle"); ++track) {
        int want = 0, got = 0;
        for (const oracle::Cue& cue : source.cues)
            for (const Span& s : kept)
                want += cue.track == std::min(track, source.Count("subtitle") - 1) && cue.start_s < origin + s.to &&
                        cue.end_s > origin + s.from;
        for (const oracle::Cue& cue : f.cues)
            got += cue.track == track;
        Check(got == want,
              "subtitle " + std::to_string(track + 1) + " has " + std::to_string(got) + " cues, expected " +
                  std::to_string(want),
              o);
    }
}

const oracle::Track* FirstSound(const Facts& f)
{
    for (const oracle::Track& t : f.tracks)
        if (t.kind == "audio")
            return &t;
    return nullptr;
}

std::string Scratch(const std::string& name)
{
    const std::string folder = Setting("MORVANE_MATRIX_OUT", MORVANE_MATRIX_OUT) + "/" + name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder + "/decode");
    return folder;
}

std::string CliArguments(const Cell& c, const std::string& out)
{
    std::string args;
    const std::string src = oracle::Quoted(MediaPath(c.source));
    if (c.job == Job::Join || c.job == Job::Stop)
        for (int i = 0; i < (c.job == Job::Stop ? kStopCopies : 3); ++i)
            args += (i ? " " : "join ") + src;
    else if (c.job == Job::Cut)
        args = "cut " + src + " --start " + Seconds(kCut.from) + " --end " + Seconds(kCut.to);
    else
        args = "cut " + src;
    if (c.job == Job::Spans || c.job == Job::Separate)
        for (const Span& s : kSpans)
            args += " --span " + Seconds(s.from) + "-" + Seconds(s.to);
    args += c.job == Job::Separate ? " --separate" : "";
    args += " --out " + oracle::Quoted(out) + " --title out";
    if (c.mode == "exact")
        args += " --exact";
    else if (c.Reencodes())
        args += " --format " + c.mode.substr(1) + " --size '176*144' --fps '25.0 fps'";
    return args;
}

std::string Cli()
{
    return oracle::Quoted(Setting("MORVANE_CLI", MORVANE_CLI));
}

std::vector<std::string> OutputsOf(const std::string& said)
{
    std::vector<std::string> outputs;
    std::istringstream lines(said);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("output=", 0) == 0)
            outputs.push_back(line.substr(7));
    return outputs;
}

// A job stopped once it has said how far it is: the inputs it calls done
// are whole in the output, and every input after the first one not done is
// not done either.
void RunStop(const Cell& c, const std::string& folder, Outcome* o)
{
    const std::string log = folder + "/said.txt", errors = folder + "/errors.txt";
    std::vector<std::string> args = {"/bin/sh", "-c", "exec " + Cli() + " " + CliArguments(c, folder)};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(started);
    std::string said;
    int status = 0;
    bool ended = false;
    while (said.find("progress ") == std::string::npos && !ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ended = waitpid(pid, &status, WNOHANG) == pid;
        std::ifstream in(log);
        said.assign(std::istreambuf_iterator<char>(in), {});
    }
    if (!ended) {
        kill(pid, SIGINT);
        waitpid(pid, &status, 0);
    }
    std::ifstream in(log);
    said.assign(std::istreambuf_iterator<char>(in), {});
    Check(WIFEXITED(status) && WEXITSTATUS(status) == 1, "a stopped job does not end with status 1", o);
    int done = 0, first_not_done = 0;
    for (int i = 1; i <= kStopCopies; ++i) {
        const bool is_done = said.find("input " + std::to_string(i) + " done") != std::string::npos;
        if (is_done && first_not_done)
            o->problems.push_back("input " + std::to_string(i) + " done after input " + std::to_string(first_not_done) +
                                  " was not");
        done += is_done;
        first_not_done = !is_done && !first_not_done ? i : first_not_done;
    }
    const std::vector<std::string> outputs = OutputsOf(said);
    ASSERT_EQ(outputs.size(), 1u) << said;
    const Facts f = oracle::Examine(outputs[0], folder + "/decode");
    int whole = 0;
    for (const oracle::Segment& s : f.segments)
        whole += s.first == 0 && s.last == kSourcePictures - 1;
    Check(whole >= done,
          std::to_string(done) + " inputs called done, but the output holds " + std::to_string(whole) + " whole", o);
    Check(f.complaints.empty(), "decoders complain: " + f.complaints, o);
    o->measured = std::to_string(done) + " done, " + std::to_string(whole) + " whole, pictures " + f.Runs();
}

std::string Measured(const Facts& f, const Facts* source)
{
    double from_source = 0;
    for (const std::vector<double>& track : WorstFromSource(f, source))
        for (double ms : track)
            from_source = std::fabs(ms) > std::fabs(from_source) ? ms : from_source;
    std::string m = "pictures " + f.Runs() + " | sync " + Ms(f.WorstSyncMs());
    if (source && std::fabs(from_source - f.WorstSyncMs()) >= 1.0)
        m += " (" + Ms(from_source) + " from the source's own)";
    m += " | " + f.TrackSignature();
    if (!f.chapters.empty())
        m += " | " + std::to_string(f.chapters.size()) + " chapters";
    if (!f.cues.empty())
        m += " | " + std::to_string(f.cues.size()) + " cues";
    if (!f.complaints.empty())
        m += " | complaint: " + f.complaints.substr(0, f.complaints.find('\n'));
    return m;
}

Outcome RunCell(const Cell& c)
{
    Outcome o;
    const std::string folder = Scratch(c.Name());
    if (c.job == Job::Stop) {
        RunStop(c, folder, &o);
        return o;
    }
    const Facts source = oracle::Examine(MediaPath(c.source), folder + "/decode");
    if (!source.opened) {
        o.problems.push_back("the source " + c.source + " is missing");
        return o;
    }
    const Expected e = Expect(c, source);
    std::vector<std::string> outputs = {MediaPath(c.source)};
    std::string said;
    if (c.job != Job::Source) {
        int rc = -1;
        std::string errors;
        said = oracle::Run(Cli() + " " + CliArguments(c, folder), &rc, &errors);
        said += errors;
        outputs = OutputsOf(said);
        const size_t why = errors.find("morvane-cli:");
        Check(rc == 0, "the tool failed: " + errors.substr(why == std::string::npos ? 0 : why, 200), &o);
        Check(e.falls_back == (said.find("no exact cut for this file") != std::string::npos),
              e.falls_back ? "does not say it cuts at key pictures" : "says it cuts at key pictures", &o);
    }
    const size_t runs_per_output = c.job == Job::Separate ? 1 : e.runs.size();
    Check(outputs.size() * runs_per_output == e.runs.size(),
          std::to_string(outputs.size()) + " outputs for " + std::to_string(e.runs.size()) + " runs", &o);
    for (size_t i = 0; i < outputs.size() && i * runs_per_output < e.runs.size(); ++i) {
        const Facts f = oracle::Examine(outputs[i], folder + "/decode");
        if (!f.opened) {
            o.problems.push_back(outputs[i] + " does not open");
            continue;
        }
        // The source's own cell judges the source against its pictures.
        const Facts* own = c.job == Job::Source ? nullptr : &source;
        o.measured += (i ? " || " : "") + Measured(f, own);
        Expected ei = e;
        const oracle::Track* sound = FirstSound(f);
        // Within a sound packet (half of one for an exact cut), and 4 ms for
        // the onset's reading and containers that count milliseconds.
        ei.sync_ms = (sound ? SoundPacketMs(sound->codec, sound->sample_rate) : 0) / (c.Exact() ? 2 : 1) + 4;
        CheckPictures(f, ei, i * runs_per_output, runs_per_output, &o);
        CheckSound(f, own, ei, &o);
        // The corrupt source's next picture is damaged unflagged: a copy keeps it.
        Check(f.complaints.empty() || e.holes, "decoders complain: " + f.complaints.substr(0, 300), &o);
        if (!ei.tracks.empty())
            Check(f.TrackSignature() == ei.tracks, "tracks " + f.TrackSignature() + ", expected " + ei.tracks, &o);
        else
            Check(f.Count("video") == 1 && f.Count("audio") == 1, "tracks " + f.TrackSignature(), &o);
        const std::vector<Span> kept(e.kept.begin() + i * runs_per_output, e.kept.begin() + (i + 1) * runs_per_output);
        if (!f.pictures.empty() && !source.pictures.empty())
            CheckChaptersAndCues(f, source, ei, kept, &o);
    }
    return o;
}

struct Row {
    std::string name, verdict, measured;
};
std::vector<Row> g_rows;

class Matrix : public ::testing::TestWithParam<Cell> {};

TEST_P(Matrix, Holds)
{
    const Cell& c = GetParam();
    const Outcome o = RunCell(c);
    std::string problems;
    for (const std::string& p : o.problems)
        problems += (problems.empty() ? "" : "; ") + p;
    const std::string verdict = !c.known_fault.empty() ? "known fault: " + c.known_fault
                                : problems.empty()     ? "ok"
                                                       : "FAILS: " + problems;
    g_rows.push_back({c.Name(), verdict, o.measured});
    if (!c.known_fault.empty())
        GTEST_SKIP() << "known fault: " << c.known_fault
                     << "\n  measured: " << (problems.empty() ? "as expected now" : problems);
    for (const std::string& p : o.problems)
        ADD_FAILURE() << p;
    RecordProperty("measured", o.measured);
}

INSTANTIATE_TEST_SUITE_P(Cells, Matrix, ::testing::ValuesIn(Table()),
                         [](const ::testing::TestParamInfo<Cell>& info) { return info.param.Name(); });

// Closer than the table's allowance of a sound packet: a re-encoded cut of
// the file with two sound tracks, started between two pictures, keeps every
// sound track's beeps a second apart and on the picture of their second, in
// every format: each encoder's priming accounted, no sample lost or doubled
// between packets, the sound starting with the picture shown first.
TEST(Reencoded, EverySoundTrackBeepsOnItsPictureToTheMillisecond)
{
    constexpr double kOnsetMs = 2.5;  // an onset read through a lossy codec and a resampler
    for (int format = 0; format <= 6; ++format) {
        SCOPED_TRACE("format " + std::to_string(format));
        const Cell c{"tracks.mkv", "f" + std::to_string(format), Job::Cut, ""};
        const std::string folder = Scratch("sync_" + c.Name());
        int rc = -1;
        const std::vector<std::string> outputs = OutputsOf(oracle::Run(Cli() + " " + CliArguments(c, folder), &rc));
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(outputs.size(), 1u);
        const Facts f = oracle::Examine(outputs[0], folder + "/decode");
        ASSERT_FALSE(f.sounds.empty());
        for (size_t k = 0; k < f.sounds.size(); ++k) {
            const std::vector<double>& beeps = f.sounds[k].beeps;
            ASSERT_EQ(beeps.size(), 3u) << "sound " << k + 1;
            for (size_t i = 1; i < beeps.size(); ++i)
                EXPECT_NEAR((beeps[i] - beeps[i - 1]) * 1000, 1000, kOnsetMs) << "sound " << k + 1;
            for (const oracle::Segment& s : f.segments)
                EXPECT_LE(std::fabs(s.worst_sync_ms[k]), kOnsetMs) << "sound " << k + 1;
        }
    }
}

// DVB subtitles whose cue and the clearing of the one before share a time
// (the ffmpeg program's encoder writes them so, and broadcasts may): the
// reader hands the second on with its framing. A copy of the whole file
// reads without a complaint, with both cues shown.
TEST(DvbSubtitles, CuesSharingATimeStayReadableInACopy)
{
    const std::string folder = Scratch("dvb_shared_time");
    const std::string source = folder + "/shared.ts";
    int rc = -1;
    oracle::Run("ffmpeg -nostdin -v error -y -i " + MediaPath("h264_late.ts") + " -i " + MediaPath("tracks.sup") +
                    " -map 0:v -map 1 -c:v copy -c:s dvbsub " + source,
                &rc);
    ASSERT_EQ(rc, 0);
    const std::string said = oracle::Run(Cli() + " cut " + source + " --start 00:00:00.000 --end 00:00:06.000 -o " +
                                             folder + "/copy.ts",
                                         &rc);
    ASSERT_EQ(rc, 0) << said;
    std::string complaints;
    const std::string events =
        oracle::Run("ffprobe -v error -select_streams s:0 -show_entries subtitle=num_rects -of csv=p=0 " + folder +
                        "/copy.ts",
                    &rc, &complaints);
    EXPECT_EQ(complaints, "");
    EXPECT_EQ(std::count(events.begin(), events.end(), '1'), 2) << events;
}

}  // namespace

int main(int argc, char** argv)
{
    bool table = false;
    for (int i = 1; i < argc; ++i)
        table = table || std::string(argv[i]) == "--table";
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (table)
        for (const Row& r : g_rows)
            std::printf("%-34s %s\n%-34s   %s\n", r.name.c_str(), r.verdict.c_str(), "", r.measured.c_str());
    return rc;
}
