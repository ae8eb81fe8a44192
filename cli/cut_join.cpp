// SPDX-License-Identifier: GPL-3.0-or-later
// The cut and join commands: from the command line to the job they launch.
#include "commands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "conversion_job.h"
#include "cut_list.h"
#include "input_facts.h"
#include "job_door.h"
#include "key_frames.h"
#include "media_input.h"

namespace cli {

namespace {

// What the cut settings offer for "keep the source's rate".
const char kKeepSourceRate[] = "source rate";

// Files of a join kept open from the probe to the job.
constexpr size_t kJoinInputsKeptOpen = 2;

// The settings dialog's choices: direct without --format, else the format's
// codecs with each unset value at the dialog's default.
bool ReadChoice(const Arguments& args, const EncodingChoice& defaults, EncodingChoice* choice,
                std::string* extension, std::string* problem)
{
    *choice = defaults;
    const std::string format = args.Value("format");
    choice->direct = format.empty();
    if (choice->direct)
        return true;
    char* end = nullptr;
    const long entry = std::strtol(format.c_str(), &end, 10);
    if (*end != '\0' || entry < 0 || entry >= kFormatCount) {
        *problem = "--format must be a number from 0 to 6";
        return false;
    }
    ApplyFormatEntry(static_cast<int>(entry), choice);
    *extension = FormatExtension(FormatTable[entry].text);
    if (args.Has("video-rate"))
        choice->video_bit_rate = ParseRateText(args.Value("video-rate"));
    if (args.Has("audio-rate"))
        choice->audio_bit_rate = ParseRateText(args.Value("audio-rate"));
    if (args.Has("sample-rate"))
        choice->sample_rate = ParseRateText(args.Value("sample-rate"));
    if (args.Has("fps"))
        choice->fps_name = args.Value("fps");
    if (args.Has("size") &&
        !ParseSizeText(args.Value("size"), &choice->width, &choice->height)) {
        *problem = "--size must look like 640*480";
        return false;
    }
    if (choice->video_bit_rate <= 0 || choice->audio_bit_rate <= 0 || choice->sample_rate <= 0) {
        *problem = "rates must look like \"3000 kbps\" or \"44100 Hz\"";
        return false;
    }
    return true;
}

// START-END, each a time as --start takes it.
bool ReadSpanText(const std::string& text, CutSpan* span)
{
    const size_t dash = text.find('-');
    return dash != std::string::npos && ReadTimeText(text.substr(0, dash), &span->start_ms) &&
           ReadTimeText(text.substr(dash + 1), &span->end_ms);
}

// The spans of list file `path` after those given on the command line.
bool AddListedSpans(const std::string& path, int64_t length_ms, std::vector<CutSpan>* spans)
{
    CutList list;
    CutListError error;
    if (!ReadCutListFile(path, length_ms, &list, &error)) {
        Fail("the list " + Shown(path) + " cannot be used: " + error.Text());
        return false;
    }
    for (const CutSpan& s : SpansOfList(list))
        spans->push_back(s);
    return true;
}

// What is left of the file once `spans` are taken out, into `spans`.
bool KeepWhatIsNotRemoved(const ConversionJob* job, const std::string& input, std::vector<CutSpan>* spans)
{
    std::vector<CutSpan> kept;
    std::string why;
    // A part shorter than a picture would hold nothing.
    const int64_t picture_ms = job->source_fps > 0 ? static_cast<int64_t>(std::ceil(1000 / job->source_fps)) : 40;
    if (!KeptPartsAfterRemoving(*spans, job->duration_us / 1000, picture_ms, &kept, &why)) {
        Fail("refused: " + why + " (" + Shown(input) + ")");
        return false;
    }
    *spans = std::move(kept);
    return true;
}

// A direct cut starts each part at the key picture at or before it: say
// where each part of a removal really runs. The file's clock start is the
// probe's: opening the file again for it would read its whole index again.
void TellKeptParts(const ConversionJob* job, const std::string& input, const std::vector<CutSpan>& parts)
{
    std::vector<int64_t> keys_us;
    std::atomic<bool> cancel{false};
    const InputFacts* facts = LaunchFactsOf(job, 0);
    if (!facts || !facts->Readable() || ScanKeyFrames(input.c_str(), cancel, &keys_us) != kProbeOk)
        return;
    const int64_t origin_us = facts->start_us;
    std::vector<int64_t> keys_ms;
    for (const int64_t us : keys_us)
        keys_ms.push_back((us - origin_us + 999) / 1000);
    for (size_t i = 0; i < parts.size(); ++i) {
        const CutSpan real = PartAtKeyPictures(parts[i], keys_ms);
        std::fprintf(stderr, "morvane-cli: part %zu runs %s-%s (from the key picture at or before %s)\n", i + 1,
                     FormatTimeText(real.start_ms).c_str(), FormatTimeText(real.end_ms).c_str(),
                     FormatTimeText(parts[i].start_ms).c_str());
    }
}

// Where a cut of one file goes, and the file probed for it.
struct CutTarget {
    std::string written_ext;
    OutputTarget target;
    Replacing replacing;
    ConversionJob* job = nullptr;
};

int PrepareCut(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
               const std::string& input, const std::string& title, CutTarget* cut)
{
    cut->written_ext = choice.direct ? FileExtensionWithDot(input) : extension;
    const int chosen =
        ChooseTarget(args, {input}, cut->written_ext, extension, title, &cut->target, &cut->replacing);
    if (chosen != kExitOk)
        return chosen;
    cut->job = TheJob();
    const int rc = ProbeInto(cut->job, input, ProbeKeeps::FileOpen);
    return rc < 0 ? Fail(InputProblem(input, rc)) : kExitOk;
}

int RunSpans(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
             const std::string& input, const std::string& title)
{
    const bool removing = args.Has("remove") || args.Has("remove-from");
    std::vector<CutSpan> spans;
    for (const std::string& text : args.Values(removing ? "remove" : "span")) {
        CutSpan span;
        if (!ReadSpanText(text, &span))
            return Usage(std::string(removing ? "--remove" : "--span") +
                         " takes START-END, two times such as 00:01:02.500-00:01:10 or 62.5-70: " + Shown(text));
        spans.push_back(span);
    }
    CutTarget cut;
    const int ready = PrepareCut(args, choice, extension, input, title, &cut);
    if (ready != kExitOk)
        return ready;
    ConversionJob* job = cut.job;
    const std::string list = args.Value(removing ? "remove-from" : "spans-from");
    if (!list.empty() && !AddListedSpans(list, job->duration_us / 1000, &spans))
        return kExitFailed;
    if (removing && !KeepWhatIsNotRemoved(job, input, &spans))
        return kExitFailed;
    for (size_t i = 0; i < spans.size(); ++i) {
        if (spans[i].end_ms > spans[i].start_ms &&
            !CutSpanIsPossible(spans[i].start_ms, spans[i].end_ms, job->duration_us))
            return Fail("refused: span " + std::to_string(i + 1) + " starts at " + FormatTimeText(spans[i].start_ms) +
                        ", past the end of " + Shown(input) + " (" + FormatTimeText(job->duration_us / 1000) + ")");
        if (spans[i].end_ms <= spans[i].start_ms)
            return Fail("refused: span " + std::to_string(i + 1) + " is empty: its end must come after its start");
        const int other = FindOverlappingSpan(spans, spans[i], static_cast<int>(i));
        if (other >= 0)
            return Fail("refused: spans " + std::to_string(std::min<int>(i, other) + 1) + " and " +
                        std::to_string(std::max<int>(i, other) + 1) + " overlap; spans may not share time");
    }
    std::vector<std::string> outputs;
    LaunchDecision decided;
    const LaunchRefusal why =
        FillSpansJob(job, input, spans, cut.target, choice, args.Has("separate"), &outputs, nullptr, &decided);
    if (why == LaunchRefusal::TooManyInputs)
        return Fail("refused: a cut takes at most " + std::to_string(kMaxJobInputs) + " spans");
    if (why != LaunchRefusal::None)
        return Refused(why, job, outputs.empty() ? "" : outputs.back());
    if (!CreatedAsNamed(job, cut.target, cut.replacing, cut.written_ext, outputs.front()))
        return Fail("refused: " + Shown(cut.replacing.target) + " appeared meanwhile; it was left as it was");
    TellDecision(decided);
    if (removing && decided.mode == JobMode::Copy)
        TellKeptParts(job, input, spans);
    return RunJob(job, false, outputs, cut.replacing);
}

int CutFile(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
            const std::string& input, const std::string& title);

// The same cut of each file, one job after the other, each into an output
// of its own (the file's title, or TITLE-1, TITLE-2, ... with --title). A
// file that fails leaves the others to go on; a stop ends the batch.
int CutEachFile(const Arguments& args, const EncodingChoice& choice, const std::string& extension)
{
    const int count = static_cast<int>(args.files.size());
    int done = 0, failed = 0;
    for (int i = 0; i < count && !g_stopSignal && !g_stdout.gone; ++i) {
        const std::string& input = args.files[i];
        Say(g_stdout.json ? JsonLine({{"file", {{"file", i + 1}, {"of", count}, {"path", input}}}})
                          : "file " + std::to_string(i + 1) + "/" + std::to_string(count) + " " + Shown(input));
        const std::string title = args.Has("title") ? SpanFileTitle(args.Value("title"), i, count) : TitleOf(input);
        (CutFile(args, choice, extension, input, title) == kExitOk ? done : failed) += 1;
        FreeTheJob();
    }
    const int not_started = count - done - failed;
    SayResult(g_stdout.json ? JsonLine({{"files", {{"done", done}, {"failed", failed}, {"not_started", not_started}}}})
                            : "files done=" + std::to_string(done) + " failed=" + std::to_string(failed) +
                                  " not_started=" + std::to_string(not_started));
    return done == count ? kExitOk : kExitFailed;
}

}  // namespace

int RunCut(const Arguments& args)
{
    if (args.files.empty())
        return Usage("cut needs a file");
    if (args.files.size() > 1 && args.Has("output"))
        return Usage("-o names one file, but a cut of several files writes one each: use --out (and --title)");
    const bool keeping = args.Has("span") || args.Has("spans-from");
    const bool removing = args.Has("remove") || args.Has("remove-from");
    const bool spans = keeping || removing;
    if (keeping && removing)
        return Usage("spans to keep (--span, --spans-from) and to remove (--remove, --remove-from) do not go together");
    if (spans && (args.Has("start") || args.Has("end")))
        return Usage("spans and --start/--end do not go together: give every span as a span");
    if (!spans && args.Has("separate"))
        return Usage("--separate goes with --span or --remove");
    if (args.Has("part-chapters") && (!spans || args.Has("separate")))
        return Usage("--part-chapters names the parts of one file: it goes with --span or --remove, without --separate");
    if (!spans && (!args.Has("start") || !args.Has("end")))
        return Usage("cut needs --start and --end (or --span or --remove), and --out or -o");
    EncodingChoice choice;
    std::string extension, problem;
    if (!CheckOutputOptions(args, &problem) || !ReadChoice(args, DefaultCutChoice(kKeepSourceRate), &choice, &extension, &problem))
        return Usage(problem);
    if (args.Has("exact") && !choice.direct)
        return Usage("--exact is a way of cutting directly; it does not go with --format");
    choice.exact = args.Has("exact");
    choice.part_chapters = args.Has("part-chapters");
    if (args.files.size() > 1)
        return CutEachFile(args, choice, extension);
    return CutFile(args, choice, extension, args.files[0], args.Value("title", TitleOf(args.files[0])));
}

namespace {

int CutFile(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
            const std::string& input, const std::string& title)
{
    if (args.Has("span") || args.Has("spans-from") || args.Has("remove") || args.Has("remove-from"))
        return RunSpans(args, choice, extension, input, title);
    CutTarget cut;
    const int ready = PrepareCut(args, choice, extension, input, title, &cut);
    if (ready != kExitOk)
        return ready;
    ConversionJob* job = cut.job;
    int64_t start_ms = 0, end_ms = 0;
    if (!ReadTimeText(args.Value("start"), &start_ms) || !ReadTimeText(args.Value("end"), &end_ms))
        return Refused(LaunchRefusal::BadTime);
    if (end_ms > start_ms && !CutSpanIsPossible(start_ms, end_ms, job->duration_us))
        return Fail("refused: the cut starts at " + FormatTimeText(start_ms) + ", past the end of " +
                    Shown(input) + " (" + FormatTimeText(job->duration_us / 1000) + ")");
    std::string output;
    LaunchDecision decided;
    const LaunchRefusal why = FillCutJob(job, input, args.Value("start"), args.Value("end"),
                                         cut.target, choice, &output, nullptr, &decided);
    if (why != LaunchRefusal::None)
        return Refused(why, job, output);
    if (!CreatedAsNamed(job, cut.target, cut.replacing, cut.written_ext, output))
        return Fail("refused: " + Shown(cut.replacing.target) + " appeared meanwhile; it was left as it was");
    TellDecision(decided);
    return RunJob(job, false, {output}, cut.replacing);
}

}  // namespace

int RunJoin(const Arguments& args)
{
    EncodingChoice choice;
    std::string extension, problem;
    if (!CheckOutputOptions(args, &problem) || !ReadChoice(args, DefaultJoinChoice(), &choice, &extension, &problem))
        return Usage(problem);
    if (args.files.size() < 2)
        return Refused(LaunchRefusal::TooFewInputs);
    if (args.files.size() > static_cast<size_t>(kMaxJobInputs))
        return Refused(LaunchRefusal::TooManyInputs);
    const std::string written_ext = choice.direct ? FileExtensionWithDot(args.files[0]) : extension;
    OutputTarget target;
    Replacing replacing;
    const int chosen =
        ChooseTarget(args, args.files, written_ext, extension, args.Value("title", "joined"), &target, &replacing);
    if (chosen != kExitOk)
        return chosen;
    ConversionJob* job = TheJob();
    std::vector<JoinRow> rows;
    for (const std::string& path : args.files) {
        // The first files stay open for the job to read at once; the others
        // are opened again when it reaches them (each holds a descriptor and
        // a few MB), checked then to be the file probed.
        const bool keep_open = rows.size() < kJoinInputsKeptOpen;
        const int rc = ProbeInto(job, path, keep_open ? ProbeKeeps::FileOpen : ProbeKeeps::Nothing);
        if (rc < 0)
            return Fail(InputProblem(path, rc));
        if (job->initial_end_us < 0)
            return Fail(Shown(path) + ": its length is unknown");
        rows.push_back(MakeJoinRow(path, *job));
    }
    std::string output;
    JoinMismatch mismatch;
    const LaunchRefusal why = FillJoinJob(job, rows, target, choice, &output, &mismatch);
    const LayoutDifference& diff = mismatch.tracks;
    if (why == LaunchRefusal::TrackLayoutDiffers && mismatch.tracks_differ)
        return Fail("refused: the tracks of " + Shown(args.files[diff.file]) + " differ from the first file's (" +
                    DescribeLayoutDifference(diff) + "); a direct join cannot continue them: re-encode with --format");
    if (why == LaunchRefusal::DiffersFromFirst)
        return Fail("refused: input " + std::to_string(mismatch.input + 1) + " (" + Shown(args.files[mismatch.input]) +
                    ") cannot be joined directly to the first file: " + JoinDifferenceText(mismatch.how) +
                    "; re-encode with --format instead");
    if (why != LaunchRefusal::None)
        return Refused(why, job, output);
    if (!CreatedAsNamed(job, target, replacing, written_ext, output))
        return Fail("refused: " + Shown(replacing.target) + " appeared meanwhile; it was left as it was");
    return RunJob(job, true, {output}, replacing);
}

}  // namespace cli
