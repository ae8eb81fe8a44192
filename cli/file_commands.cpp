// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that take one file and launch no job: probe, preview, detect.
#include "commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "break_detect.h"
#include "conversion_job.h"
#include "cut_list.h"
#include "preview.h"
#include "tracks.h"

namespace cli {

namespace {

nlohmann::json ProbeJson(const std::string& path, int rc, const ConversionJob& job)
{
    nlohmann::json facts = {{"file", path}, {"result", rc}};
    if (rc < 0) {
        facts["error"] = ProbeMessage(rc);
        return facts;
    }
    const auto codec = [](int id) { return id ? avcodec_get_name(AVCodecID(id)) : "none"; };
    // A file that does not say how long it is (an ASF written to a pipe) has no duration: null, not a number.
    const nlohmann::json duration = job.duration_us >= 0 ? nlohmann::json(job.duration_us) : nlohmann::json(nullptr);
    facts.update({{"duration_us", duration}, {"width", job.source_width}, {"height", job.source_height},
                  {"fps_num", job.source_fps_num}, {"fps_den", job.source_fps_den},
                  {"video_codec", codec(job.video_codec_id)}, {"video_bit_rate", job.video_bit_rate},
                  {"audio_codec", codec(job.audio_codec_id)}, {"audio_bit_rate", job.audio_bit_rate},
                  {"sample_rate", job.audio_sample_rate}, {"channels", job.audio_channels}});
    std::vector<TrackFacts> tracks;
    ListTracks(path.c_str(), &tracks);
    facts["streams"] = nlohmann::json::array();
    for (const TrackFacts& t : tracks)
        facts["streams"].push_back({{"stream", t.index}, {"kind", TrackKindName(t.kind)}, {"codec", t.codec},
                                    {"language", t.language}, {"default", t.is_default}, {"main", t.main},
                                    {"title", t.title}});
    return facts;
}

// The same facts as key=value lines, then a line a stream (the file's first
// stream as 0) and an empty line.
void SayProbeText(const nlohmann::json& facts)
{
    const std::string keys[] = {"duration_us", "width", "height", "fps_num", "fps_den", "video_codec",
                                "video_bit_rate", "audio_codec", "audio_bit_rate", "sample_rate", "channels"};
    Say("file=" + Shown(facts["file"].get<std::string>()));
    Say("result=" + std::to_string(facts["result"].get<int>()));
    if (facts.contains("error")) {
        Say("error=" + facts["error"].get<std::string>());
        Say("");
        return;
    }
    for (const std::string& key : keys)
        Say(key + "=" + (facts[key].is_string() ? facts[key].get<std::string>()
                         : facts[key].is_null() ? "unknown"
                                                : facts[key].dump()));
    for (const nlohmann::json& t : facts["streams"]) {
        const std::string language = t["language"];
        Say("stream=" + t["stream"].dump() + " kind=" + t["kind"].get<std::string>() + " codec=" +
            t["codec"].get<std::string>() + " language=" + (language.empty() ? "-" : Shown(language)) +
            " default=" + (t["default"] ? "1" : "0") + " main=" + (t["main"] ? "1" : "0") +
            " title=" + Shown(t["title"].get<std::string>()));
    }
    Say("");
}

}  // namespace

int RunProbe(const Arguments& args)
{
    if (args.files.empty())
        return Usage("probe needs at least one file");
    ConversionJob* job = TheJob();
    int status = kExitOk;
    for (const std::string& path : args.files) {
        const int rc = ProbeInto(job, path);
        if (rc < 0)
            status = kExitFailed;
        const nlohmann::json facts = ProbeJson(path, rc, *job);
        if (g_stdout.json)
            Say(JsonLine(facts));
        else
            SayProbeText(facts);
    }
    return status;
}

namespace {

bool IsJpegName(const std::string& path)
{
    std::string ext = FileExtensionWithDot(FileNameOf(path));
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".jpg" || ext == ".jpeg";
}

// SECONDS: a finite number of seconds from the file's start, nothing else.
bool ParseSeconds(const std::string& text, double* seconds)
{
    char* end = nullptr;
    errno = 0;
    *seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && errno == 0 && std::isfinite(*seconds) && *seconds >= 0;
}

}  // namespace

int RunPreview(const Arguments& args)
{
    if (args.files.size() != 3)
        return Usage("preview takes FILE SECONDS OUT.jpg");
    const std::string& input = args.files[0];
    const std::string& out = args.files[2];
    double seconds = 0;
    if (!ParseSeconds(args.files[1], &seconds))
        return Usage("SECONDS must be a number of seconds, 0 or more: " + Shown(args.files[1]));
    if (!IsJpegName(out))
        return Fail("refused: the snapshot is written as JPEG, so its name must end in .jpg or .jpeg: " +
                    Shown(out));
    if (SameFile(input, out))
        return Fail("refused: the snapshot would replace its own input " + Shown(input));
    if (Exists(std::filesystem::u8path(out)) && !args.Has("overwrite"))
        return Fail("refused: " + Shown(out) + " exists; add --overwrite to replace it");
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input);
    if (rc < 0)
        return Fail(InputProblem(input, rc));
    if (job->video_stream_index < 0)
        return Fail(Shown(input) + " has no picture to preview");
    // The name's own bytes, whatever the locale says they mean.
    std::wstring snapshot = BytesToWide(out);
    job->probe_path = const_cast<char*>(input.c_str());
    job->snapshot_path = snapshot.data();
    job->current_input = 0;
    job->start_s[0] = seconds;
    const bool written = DecodePreviewFrame(job);
    job->probe_path = const_cast<char*>("");
    job->snapshot_path = nullptr;
    if (!written)
        return Fail("no picture was written to " + Shown(out));
    SayResult(g_stdout.json ? JsonLine({{"result", {{"ok", true}, {"snapshot", out}}}}) : "snapshot=" + Shown(out));
    return kExitOk;
}

namespace {

nlohmann::json SecondsPairs(const std::vector<TimeInterval>& intervals)
{
    nlohmann::json list = nlohmann::json::array();
    for (const TimeInterval& t : intervals)
        list.push_back({t.start_us / 1e6, t.end_us / 1e6});
    return list;
}

std::string IntervalText(const TimeInterval& t)
{
    return FormatTimeText((t.start_us + 500) / 1000) + "-" + FormatTimeText((t.end_us + 500) / 1000);
}

}  // namespace

int RunDetect(const Arguments& args)
{
    if (args.files.size() != 1)
        return Usage("detect takes exactly one file");
    if (args.Has("edl") && args.Has("json"))
        return Usage("--edl and --json do not go together");
    const std::string& input = args.files[0];
    std::atomic<bool> cancel{false};
    // Ctrl-C stops the scan as it stops a job.
    static std::atomic<std::atomic<bool>*> s_cancel{nullptr};
    s_cancel = &cancel;
    struct sigaction action {}, previous {};
    action.sa_handler = [](int) {
        if (std::atomic<bool>* c = s_cancel.load())
            c->store(true);
    };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
    DetectedPoints points;
    const int rc = DetectCutPoints(input.c_str(), DetectSettings{}, cancel, nullptr, &points);
    sigaction(SIGINT, &previous, nullptr);
    s_cancel = nullptr;
    if (rc == kDetectCancelled)
        return Fail("stopped");
    if (rc != kProbeOk)
        return Fail(rc == kDetectFilterFailed ? Shown(input) + ": the scan's filters failed" : InputProblem(input, rc));
    if (args.Has("edl")) {
        CutList list;
        for (const TimeInterval& b : points.breaks)
            list.entries.push_back({(b.start_us + 500) / 1000, (b.end_us + 500) / 1000, ""});
        const std::string text = WriteCutList(list, CutListFormat::Edl);
        if (!text.empty() && std::fputs(text.c_str(), stdout) < 0)
            return kExitFailed;
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    }
    if (g_stdout.json) {
        nlohmann::json scenes = nlohmann::json::array();
        for (const int64_t t : points.scene_changes_us)
            scenes.push_back(t / 1e6);
        SayResult(JsonLine({{"result",
                             {{"ok", true},
                              {"file", input},
                              {"breaks", SecondsPairs(points.breaks)},
                              {"meetings", SecondsPairs(points.meetings)},
                              {"black", SecondsPairs(points.black)},
                              {"silence", SecondsPairs(points.silence)},
                              {"scenes", scenes}}}}));
        return kExitOk;
    }
    const std::pair<const char*, const std::vector<TimeInterval>*> kinds[] = {
        {"black", &points.black}, {"silence", &points.silence}};
    for (const auto& [name, list] : kinds)
        for (const TimeInterval& t : *list)
            Say(std::string(name) + "=" + IntervalText(t));
    for (const int64_t t : points.scene_changes_us)
        Say("scene=" + FormatTimeText((t + 500) / 1000));
    for (const TimeInterval& t : points.meetings)
        Say("meeting=" + IntervalText(t));
    for (const TimeInterval& t : points.breaks)
        Say("break=" + IntervalText(t));
    return kExitOk;
}

}  // namespace cli
