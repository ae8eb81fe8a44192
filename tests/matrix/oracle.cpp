// SPDX-License-Identifier: GPL-3.0-or-later
#include "oracle.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace oracle {
namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// ffprobe's flat output: section.kind.N.field=value, quotes removed.
using Flat = std::map<std::string, std::map<int, std::map<std::string, std::string>>>;
Flat ParseFlat(const std::string& text)
{
    Flat flat;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        const size_t a = line.find('.'), b = line.find('.', a + 1), c = line.find('.', b + 1);
        if (eq == std::string::npos || a > eq)
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"')
            value = value.substr(1, value.size() - 2);
        if (line.rfind("format.", 0) == 0)  // the one section without a list
            flat["format"][0][line.substr(a + 1, eq - a - 1)] = value;
        else if (c != std::string::npos && c < eq)
            flat[line.substr(a + 1, b - a - 1)][std::atoi(line.c_str() + b + 1)][line.substr(c + 1, eq - c - 1)] =
                value;
    }
    return flat;
}

double Number(const std::map<std::string, std::string>& fields, const std::string& key, double fallback = 0)
{
    const auto it = fields.find(key);
    if (it == fields.end() || it->second.empty() || it->second == "N/A")
        return fallback;
    return std::atof(it->second.c_str());
}

std::string Text(const std::map<std::string, std::string>& fields, const std::string& key)
{
    const auto it = fields.find(key);
    return it == fields.end() ? "" : it->second;
}

// The number a 4x4 picture of cell brightnesses spells, -1 when its check
// does not match (a garbled or foreign picture).
int NumberOfCells(const unsigned char* cells)
{
    int n = 0, check = 0;
    for (int i = 0; i < 16; ++i) {
        const int bit = cells[i] > 128 ? 1 : 0;
        if (i < 10)
            n |= bit << i;
        else
            check |= bit << (i - 10);
    }
    return check == (n * 37 + n / 64 * 11 + 5) % 64 ? n : -1;
}

// Beep onsets: a sample well above the noise after 0.3 s without one.
std::vector<double> BeepOnsets(const std::string& raw, int rate, double start_s)
{
    std::vector<double> onsets;
    const auto* samples = reinterpret_cast<const int16_t*>(raw.data());
    const size_t count = raw.size() / 2;
    const size_t quiet = static_cast<size_t>(0.3 * rate);
    size_t last_loud = 0;
    bool heard = false;
    for (size_t i = 0; i < count; ++i) {
        if (std::abs(samples[i]) < 4000)
            continue;
        if (!heard || i - last_loud > quiet)
            onsets.push_back(start_s + static_cast<double>(i) / rate);
        heard = true;
        last_loud = i;
    }
    return onsets;
}

void ReadCues(const std::string& path, int track, std::vector<Cue>* cues)
{
    const Flat flat = ParseFlat(Run("ffprobe -v error -select_streams s:" + std::to_string(track) +
                                    " -show_entries subtitle=pts_time,start_display_time,end_display_time,"
                                    "num_rects -of flat " +
                                    Quoted(path)));
    const auto it = flat.find("subtitle");
    if (it == flat.end())
        return;
    bool open = false;  // a bitmap cue lasts until the next event clears it
    for (const auto& [i, s] : it->second) {
        const double at = Number(s, "pts_time");
        if (open && !cues->empty())
            cues->back().end_s = at;
        open = false;
        if (Number(s, "num_rects") <= 0)
            continue;
        const double end_ms = Number(s, "end_display_time");
        cues->push_back({track, at + Number(s, "start_display_time") / 1000, at + end_ms / 1000});
        open = end_ms >= 4e9;
    }
}

void FindSegments(Facts* f)
{
    std::vector<size_t> segment_of;  // per picture, its run (a join's runs repeat the numbers)
    for (const Picture& p : f->pictures) {
        const bool continues = !f->segments.empty() && p.number >= 0 && p.number == f->segments.back().last + 1;
        if (continues) {
            f->segments.back().last = p.number;
        } else if (p.number >= 0) {
            Segment s;
            s.first = s.last = p.number;
            s.start_s = p.t;
            f->segments.push_back(s);
        }
        segment_of.push_back(f->segments.size() - 1);
    }
    for (Segment& s : f->segments) {
        s.worst_sync_ms.assign(f->sounds.size(), 0);
        s.beeps_missing.assign(f->sounds.size(), 0);
    }
    constexpr double kFar = 0.4;
    f->beep_syncs.assign(f->sounds.size(), {});
    for (size_t k = 0; k < f->sounds.size(); ++k) {
        const Sound& sound = f->sounds[k];
        for (size_t i = 0; i < f->pictures.size(); ++i) {
            const Picture& p = f->pictures[i];
            const size_t seg = segment_of[i];
            if (p.number < 0 || p.number % static_cast<int>(kFps) != 0)
                continue;
            double best = 1e9;
            for (double b : sound.beeps)
                if (std::fabs(b - p.t) < std::fabs(best))
                    best = b - p.t;
            if (std::fabs(best) > kFar) {
                ++f->segments[seg].beeps_missing[k];
                continue;
            }
            f->beep_syncs[k].push_back({p.number, seg, best * 1000});
            double& worst = f->segments[seg].worst_sync_ms[k];
            if (std::fabs(best * 1000) > std::fabs(worst))
                worst = best * 1000;
        }
    }
}

}  // namespace

std::string Quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Run(const std::string& command, int* exit_code, std::string* errors)
{
    char name[] = "/tmp/matrix-errors-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0)
        close(fd);
    FILE* pipe = popen((command + " 2>" + name).c_str(), "r");
    std::string out;
    if (pipe) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        const int status = pclose(pipe);
        if (exit_code)
            *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (errors)
        *errors = ReadFile(name);
    std::remove(name);
    return out;
}

int Facts::Count(const std::string& kind) const
{
    return static_cast<int>(
        std::count_if(tracks.begin(), tracks.end(), [&](const Track& t) { return t.kind == kind; }));
}

std::string Facts::Runs() const
{
    std::string runs;
    int first = -2, last = -2;
    const auto close_run = [&] {
        if (first >= 0)
            runs +=
                (runs.empty() ? "" : " ") + std::to_string(first) + (last > first ? "-" + std::to_string(last) : "");
    };
    for (const Picture& p : pictures) {
        if (p.number >= 0 && first >= 0 && p.number == last + 1) {
            last = p.number;
            continue;
        }
        close_run();
        first = last = p.number;
        if (p.number < 0)
            runs += runs.empty() ? "x" : " x";
    }
    close_run();
    return runs;
}

std::string Facts::TrackSignature() const
{
    std::vector<std::string> words;
    for (const Track& t : tracks) {
        if (t.kind == "data")
            continue;
        std::string w = t.kind.substr(0, 1);
        if (!t.language.empty() && t.language != "und")
            w += ":" + t.language;
        w += t.is_default && t.kind != "video" ? "*" : "";
        words.push_back(w + (t.forced ? "!" : ""));
    }
    std::sort(words.begin(), words.end());
    std::string s;
    for (const std::string& w : words)
        s += (s.empty() ? "" : " ") + w;
    return s;
}

double Facts::WorstSyncMs() const
{
    double worst = 0;
    for (const Segment& s : segments)
        for (double ms : s.worst_sync_ms)
            worst = std::fabs(ms) > std::fabs(worst) ? ms : worst;
    return worst;
}

double Facts::SyncAtPicture(size_t k, int number) const
{
    if (k < beep_syncs.size())
        for (const BeepSync& b : beep_syncs[k])
            if (b.number == number)
                return b.ms;
    return NAN;
}

double Facts::VideoEndS() const
{
    double end = 0;
    for (const Picture& p : pictures)
        end = std::max(end, p.t + 1 / kFps);
    return end;
}

// ISO 639-2 names some languages twice: the bibliographic code (QuickTime,
// ASF read back) is the same language as the terminology one.
std::string TerminologyCode(const std::string& language)
{
    static const std::map<std::string, std::string> kSame = {
        {"alb", "sqi"}, {"arm", "hye"}, {"baq", "eus"}, {"bur", "mya"}, {"chi", "zho"}, {"cze", "ces"}, {"dut", "nld"},
        {"fre", "fra"}, {"geo", "kat"}, {"ger", "deu"}, {"gre", "ell"}, {"ice", "isl"}, {"mac", "mkd"}, {"mao", "mri"},
        {"may", "msa"}, {"per", "fas"}, {"rum", "ron"}, {"slo", "slk"}, {"tib", "bod"}, {"wel", "cym"}};
    const auto same = kSame.find(language);
    return same == kSame.end() ? language : same->second;
}

Facts Examine(const std::string& path, const std::string& scratch)
{
    Facts f;
    std::string probe_errors;
    int rc = 0;
    const Flat flat = ParseFlat(
        Run("ffprobe -v error -show_entries stream=codec_type,codec_name,sample_rate:stream_tags=language,title:"
            "stream_disposition=default,forced:chapter=start_time,end_time:chapter_tags=title:"
            "frame=media_type,stream_index,key_frame,best_effort_timestamp_time:format=start_time -of flat " +
                Quoted(path),
            &rc, &probe_errors));
    f.opened = rc == 0;
    if (!f.opened)
        return f;
    std::map<int, int> sound_of_stream;  // stream index -> sound track
    if (flat.count("stream"))
        for (const auto& [index, s] : flat.at("stream")) {
            Track t{Text(s, "codec_type"),
                    Text(s, "codec_name"),
                    TerminologyCode(Text(s, "tags.language")),
                    Text(s, "tags.title"),
                    Number(s, "disposition.default") > 0,
                    Number(s, "disposition.forced") > 0,
                    static_cast<int>(Number(s, "sample_rate"))};
            if (t.kind == "audio")
                sound_of_stream[index] = static_cast<int>(f.sounds.size()), f.sounds.emplace_back();
            f.tracks.push_back(t);
        }
    if (flat.count("chapter"))
        for (const auto& [i, c] : flat.at("chapter"))
            f.chapters.push_back({Number(c, "start_time"), Number(c, "end_time"), Text(c, "tags.title")});
    int first_video = -1;
    std::vector<double> picture_times;
    std::vector<bool> keys;
    if (flat.count("format"))
        f.start_s = Number(flat.at("format").begin()->second, "start_time");
    std::vector<bool> sound_started(f.sounds.size(), false);
    if (flat.count("frame"))
        for (const auto& [i, fr] : flat.at("frame")) {
            const int stream = static_cast<int>(Number(fr, "stream_index", -1));
            const double t = Number(fr, "best_effort_timestamp_time", NAN);
            if (Text(fr, "media_type") == "video") {
                if (first_video < 0)
                    first_video = stream;
                if (stream == first_video)
                    picture_times.push_back(t), keys.push_back(Number(fr, "key_frame") > 0);
            } else if (sound_of_stream.count(stream) && !sound_started[sound_of_stream[stream]]) {
                sound_started[sound_of_stream[stream]] = true;
                f.sounds[sound_of_stream[stream]].start_s = t;
            }
        }

    // The pictures' pixels and each sound track's samples, one decode.
    std::string command = "ffmpeg -nostdin -v error -y -i " + Quoted(path);
    const std::string video_raw = scratch + "/video.raw";
    if (first_video >= 0)
        command +=
            " -map 0:v:0 -vf scale=4:4:flags=area,format=gray -fps_mode passthrough -f rawvideo " + Quoted(video_raw);
    for (size_t k = 0; k < f.sounds.size(); ++k)
        command += " -map 0:a:" + std::to_string(k) + " -ac 1 -c:a pcm_s16le -f s16le " +
                   Quoted(scratch + "/sound" + std::to_string(k) + ".raw");
    std::string decode_errors;
    if (first_video >= 0 || !f.sounds.empty())
        Run(command, nullptr, &decode_errors);
    f.complaints = probe_errors + decode_errors;
    const std::string pixels = first_video >= 0 ? ReadFile(video_raw) : "";
    const size_t pictures = pixels.size() / 16;
    if (pictures != picture_times.size())
        f.complaints += "oracle: " + std::to_string(pictures) + " pictures decoded but " +
                        std::to_string(picture_times.size()) + " listed\n";
    // The picture a decoder gives last, flushed, has no time where the file
    // stores none (AVI with B-pictures): it follows the one before.
    for (size_t i = 1; i < picture_times.size(); ++i)
        if (std::isnan(picture_times[i]) && !std::isnan(picture_times[i - 1]))
            picture_times[i] = picture_times[i - 1] + 1 / kFps;
    for (size_t i = 0; i < pictures && i < picture_times.size(); ++i) {
        const int n = NumberOfCells(reinterpret_cast<const unsigned char*>(pixels.data()) + 16 * i);
        f.pictures.push_back({picture_times[i], n, keys[i]});
        f.unreadable += n < 0;
    }
    int k = 0;
    for (const Track& t : f.tracks) {
        if (t.kind != "audio")
            continue;
        Sound& sound = f.sounds[k];
        const std::string raw = ReadFile(scratch + "/sound" + std::to_string(k) + ".raw");
        const int rate = t.sample_rate > 0 ? t.sample_rate : 48000;
        sound.played_s = static_cast<double>(raw.size() / 2) / rate;
        sound.beeps = BeepOnsets(raw, rate, sound.start_s);
        ++k;
    }
    int sub = 0;
    for (const Track& t : f.tracks)
        if (t.kind == "subtitle")
            ReadCues(path, sub++, &f.cues);
    FindSegments(&f);
    return f;
}

std::vector<double> KeyPictureTimes(const std::string& path)
{
    std::vector<double> keys;
    std::istringstream lines(
        Run("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 " + Quoted(path)));
    std::string line;
    while (std::getline(lines, line))
        if (line.find(",K") != std::string::npos)
            keys.push_back(std::atof(line.c_str()));
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace oracle
