// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_setup.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include "container_rules.h"
#include "conversion_job.h"
#include "exact_cut.h"
#include "job_door.h"
#include "probe.h"
#include "tracks.h"

JoinRow MakeJoinRow(const std::string& path, const ConversionJob& job)
{
    JoinRow row;
    row.path = path;
    row.duration_us = job.duration_us;
    row.width = job.source_width;
    row.height = job.source_height;
    if (job.source_fps_den != 0)
        row.fps = static_cast<double>(job.source_fps_num) / job.source_fps_den;
    if (FactsStillHold(job.probe_facts, path))
        row.facts = job.probe_facts;
    return row;
}

std::string JoinRowLengthText(const JoinRow& row) { return FormatTimeText(row.duration_us / 1000); }

std::string JoinRowSizeText(const JoinRow& row)
{
    return std::to_string(row.width) + "*" + std::to_string(row.height);
}

std::string JoinRowRateText(const JoinRow& row)
{
    char rate[32] = "";
    if (row.fps != 0)
        std::snprintf(rate, sizeof rate, "%5.2ffps", row.fps);
    return rate;
}

namespace {

void ReplacePathArrays(ConversionJob* job, int n)
{
    ReleaseReservedOutput(job);  // names it by the old paths
    FreePathArray(job->input_paths, job->input_count);
    FreePathArray(job->output_paths, job->input_count);
    job->input_count = n;
    job->input_paths = AllocPathArray(n);
    job->output_paths = AllocPathArray(n);
}

void SetPath(char** paths, int i, const std::string& text)
{
    std::free(paths[i]);
    paths[i] = CopyPathText(text.c_str());
}

// Direct jobs keep the input's container, so they need its extension.
std::string OutputNameFor(const std::string& input_path, const OutputTarget& target, bool direct)
{
    const std::string ext = direct ? FileExtensionWithDot(input_path) : target.extension;
    return target.folder + "/" + target.file_title + ext;
}

// The name is taken by creating the file: two launches at once can never
// choose the same one.
bool ReserveOutputFile(ConversionJob* job, const std::string& wanted, std::string* chosen)
{
    const int fd = CreateUniqueOutputFile(wanted, chosen);
    job->output_error = fd < 0 ? -fd : 0;
    job->output_fd = fd < 0 ? -1 : fd;
    return fd >= 0;
}

// The facts of `path`: those given or the last probe's while the file is
// unchanged, else read now (the launch's one look at the file).
InputFacts FactsOf(const InputFacts& probed, const std::string& path, const InputFacts* given = nullptr)
{
    if (given && FactsStillHold(*given, path))
        return *given;
    if (FactsStillHold(probed, path))
        return probed;
    InputFacts facts;
    ReadInputFacts(path, &facts);
    return facts;
}

bool NoCopyPossible(const InputFacts& facts) { return facts.Readable() && !facts.direct_copy_possible; }

// The mode of a filled cut, for the window and the tool to tell the user: an
// exact cut where one applies (else key pictures, and why), and whether one
// of its spans has no picture a copy can start at.
LaunchDecision DecideCut(ConversionJob* job, const std::string& input_path, const OutputTarget& target,
                         const EncodingChoice& choice)
{
    LaunchDecision d;
    d.container = choice.direct ? FileExtensionWithDot(input_path) : target.extension;
    d.mode = choice.direct ? JobMode::Copy : JobMode::Reencode;
    if (!choice.direct || !choice.exact)
        return d;
    if (!ExactCutApplies(job, 0)) {
        const InputFacts* facts = LaunchFactsOf(job, 0);
        d.exact_fell_back = true;
        d.exact_why = facts && facts->Readable() ? facts->exact_cut_why : "the file cannot be read";
        return d;
    }
    d.mode = JobMode::Exact;
    // The look into each span answers to this job's stop, not the last one's.
    job->cancel_requested = 0;
    for (int i = 0; i < job->input_count && !d.exact_reencodes_whole; ++i)
        d.exact_reencodes_whole = ExactCutReencodesWholeSpan(job, i, &d.exact_keys_lack_headers);
    return d;
}

void SetVideoAndAudioTargets(ConversionJob* job, const EncodingChoice& choice,
                             const std::vector<CodecName>& video_codecs,
                             const std::vector<CodecName>& audio_codecs)
{
    int id = job->video_codec_id;
    LookUpCodec(video_codecs, choice.video_codec_name, &id);
    job->video_codec_id = id;
    job->video_bit_rate = choice.video_bit_rate;
    job->target_height = choice.height;
    job->target_width = choice.width;
    job->target_fps = 0;
    FpsNameToValue(choice.fps_name, &job->target_fps);
    id = job->audio_codec_id;
    LookUpCodec(audio_codecs, choice.audio_codec_name, &id);
    job->audio_codec_id = id;
    job->audio_bit_rate = choice.audio_bit_rate;
    job->audio_channels = choice.channels;
    job->audio_sample_rate = choice.sample_rate;
}

}  // namespace

LaunchRefusal FillCutJob(ConversionJob* job, const std::string& input_path,
                         const std::string& start_text, const std::string& end_text,
                         const OutputTarget& target, const EncodingChoice& choice,
                         std::string* output_path, const InputFacts* facts, LaunchDecision* decision)
{
    if (choice.direct && FileNameOf(input_path).find('.') == std::string::npos)
        return LaunchRefusal::NoFileExtension;
    InputFacts found = FactsOf(job->probe_facts, input_path, facts);
    if (choice.direct && NoCopyPossible(found))
        return LaunchRefusal::NeedsReencoding;
    job->display_count = 0;
    ReplacePathArrays(job, 1);
    job->input_facts.assign(1, std::move(found));
    job->progress_percent = -1;
    SetPath(job->input_paths, 0, input_path);

    int64_t start_ms = 0, end_ms = 0;
    if (!ReadTimeText(start_text, &start_ms) || !ReadTimeText(end_text, &end_ms))
        return LaunchRefusal::BadTime;
    job->start_s[0] = start_ms / 1000.0;
    job->end_s[0] = end_ms / 1000.0;
    job->span_s[0] = job->end_s[0] - job->start_s[0];

    job->join_mode = 0;
    job->reencode = choice.direct ? 0 : 1;
    job->exact_cut = choice.direct && choice.exact ? 1 : 0;
    job->separate_outputs = 0;
    job->part_chapters = 0;
    SetVideoAndAudioTargets(job, choice, kCutVideoCodecs, kCutAudioCodecs);
    if (job->span_s[0] <= 0)
        return LaunchRefusal::EmptySpan;
    const bool created = ReserveOutputFile(job, OutputNameFor(input_path, target, choice.direct), output_path);
    SetPath(job->output_paths, 0, *output_path);
    if (!created)
        return LaunchRefusal::OutputNotCreated;
    if (decision)
        *decision = DecideCut(job, input_path, target, choice);
    return LaunchRefusal::None;
}

std::string SpanFileTitle(const std::string& title, int span, int span_count)
{
    return span_count > 1 ? title + "-" + std::to_string(span + 1) : title;
}

bool ContainerKeepsChapters(const std::string& extension)
{
    const ContainerRules* rules = RulesOfFileName(("x" + extension).c_str());
    return rules && rules->chapters != ChapterPlace::None;
}

LaunchRefusal FillSpansJob(ConversionJob* job, const std::string& input_path, const std::vector<CutSpan>& spans,
                           const OutputTarget& target, const EncodingChoice& choice, bool separate,
                           std::vector<std::string>* output_paths, const InputFacts* facts,
                           LaunchDecision* decision)
{
    output_paths->clear();
    const int n = static_cast<int>(spans.size());
    if (n > kMaxJobInputs)
        return LaunchRefusal::TooManyInputs;
    for (int i = 0; i < n; ++i) {
        if (spans[i].end_ms <= spans[i].start_ms || spans[i].start_ms < 0)
            return LaunchRefusal::EmptySpan;
        if (FindOverlappingSpan(spans, spans[i], i) >= 0)
            return LaunchRefusal::SpansOverlap;
    }
    if (n == 0)
        return LaunchRefusal::EmptySpan;
    InputFacts found = FactsOf(job->probe_facts, input_path, facts);
    if (choice.direct && FileNameOf(input_path).find('.') == std::string::npos)
        return LaunchRefusal::NoFileExtension;
    if (choice.direct && NoCopyPossible(found))
        return LaunchRefusal::NeedsReencoding;
    job->display_count = 0;
    ReplacePathArrays(job, n);
    job->input_facts.assign(n, found);
    job->progress_percent = -1;
    job->join_mode = 0;
    job->reencode = choice.direct ? 0 : 1;
    job->exact_cut = choice.direct && choice.exact ? 1 : 0;
    job->separate_outputs = separate && n > 1 ? 1 : 0;
    const bool keeps_chapters = ContainerKeepsChapters(choice.direct ? FileExtensionWithDot(input_path) : target.extension);
    job->part_chapters = choice.part_chapters && !job->separate_outputs && keeps_chapters ? 1 : 0;
    SetVideoAndAudioTargets(job, choice, kCutVideoCodecs, kCutAudioCodecs);
    for (int i = 0; i < n; ++i) {
        SetPath(job->input_paths, i, input_path);
        job->start_s[i] = spans[i].start_ms / 1000.0;
        job->end_s[i] = spans[i].end_ms / 1000.0;
        job->span_s[i] = job->end_s[i] - job->start_s[i];
    }
    const int files = job->separate_outputs ? n : 1;
    for (int i = 0; i < files; ++i) {
        OutputTarget one = target;
        one.file_title = SpanFileTitle(target.file_title, i, files);
        const std::string wanted = OutputNameFor(input_path, one, choice.direct);
        std::string chosen;
        const int fd = CreateUniqueOutputFile(wanted, &chosen);
        if (fd < 0) {
            job->output_error = -fd;
            output_paths->push_back(wanted);
            ReleaseReservedOutput(job);
            return LaunchRefusal::OutputNotCreated;
        }
        if (i == 0)
            job->output_fd = fd;
        else
            job->later_output_fds.push_back(fd);
        output_paths->push_back(chosen);
        SetPath(job->output_paths, i, chosen);
    }
    job->output_error = 0;
    // One file: every span names it, as a join's inputs do.
    for (int i = files; i < n; ++i)
        SetPath(job->output_paths, i, output_paths->front());
    if (decision) {
        *decision = DecideCut(job, input_path, target, choice);
        decision->part_chapters_unkept = choice.part_chapters && !job->separate_outputs && !keeps_chapters;
    }
    return LaunchRefusal::None;
}

namespace {

// Each row's facts: those the row carries while its file is unchanged, else
// read now.
std::vector<InputFacts> FactsOfRows(const InputFacts& probed, const std::vector<JoinRow>& rows)
{
    std::vector<InputFacts> facts;
    facts.reserve(rows.size());
    for (const JoinRow& row : rows)
        facts.push_back(FactsOf(probed, row.path, &row.facts));
    return facts;
}

// The checks of CheckJoinRows; a direct join's files are looked at once, and
// what was found is left in `found` for the launch and its messages, their
// facts in `facts`.
LaunchRefusal CheckRows(const InputFacts& probed, const std::vector<JoinRow>& rows, bool direct, JoinMismatch* found,
                        std::vector<InputFacts>* facts)
{
    if (rows.size() < 2)
        return LaunchRefusal::TooFewInputs;
    if (rows.size() > static_cast<size_t>(kMaxJobInputs))
        return LaunchRefusal::TooManyInputs;
    if (!direct)
        return LaunchRefusal::None;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (FileExtension(rows[i].path) != FileExtension(rows[i - 1].path) || rows[i].width != rows[i - 1].width ||
            rows[i].height != rows[i - 1].height)
            return LaunchRefusal::NotSameKind;
        if (FileNameOf(rows[i].path).find('.') == std::string::npos)
            return LaunchRefusal::NoFileExtension;
    }
    if (FileNameOf(rows[0].path).find('.') == std::string::npos)
        return LaunchRefusal::NoFileExtension;
    *facts = FactsOfRows(probed, rows);
    *found = CheckDirectJoinFiles(*facts);
    // The first file's codecs make the output.
    if (!found->copy_possible)
        return LaunchRefusal::NeedsReencoding;
    // Every sound, subtitle and data track continues one of the first file's.
    if (found->tracks_differ)
        return LaunchRefusal::TrackLayoutDiffers;
    return LaunchRefusal::None;
}

}  // namespace

LaunchRefusal CheckJoinRows(const std::vector<JoinRow>& rows, bool direct)
{
    JoinMismatch found;
    std::vector<InputFacts> facts;
    return CheckRows(InputFacts{}, rows, direct, &found, &facts);
}

LaunchRefusal FillJoinJob(ConversionJob* job, const std::vector<JoinRow>& rows,
                          const OutputTarget& target, const EncodingChoice& choice,
                          std::string* output_path, JoinMismatch* mismatch)
{
    JoinMismatch found;
    std::vector<InputFacts> facts;
    const LaunchRefusal refusal = CheckRows(job->probe_facts, rows, choice.direct, &found, &facts);
    if (mismatch)
        *mismatch = found;
    if (refusal != LaunchRefusal::None)
        return refusal;
    if (choice.direct && found.input >= 0)
        return LaunchRefusal::DiffersFromFirst;
    const int n = static_cast<int>(rows.size());
    if (facts.empty())
        facts = FactsOfRows(job->probe_facts, rows);
    job->display_count = n;
    ReplacePathArrays(job, n);
    job->input_facts = std::move(facts);
    job->progress_percent = -1;
    job->join_total_s = 0;
    job->reencode = choice.direct ? 0 : 1;
    job->separate_outputs = 0;
    job->part_chapters = 0;

    SetVideoAndAudioTargets(job, choice, kJoinVideoCodecs, kJoinAudioCodecs);
    // Every entry gets the same name: nothing is written between two inputs.
    const bool created = ReserveOutputFile(job, OutputNameFor(rows[0].path, target, choice.direct), output_path);
    for (int j = 0; j < n; ++j) {
        SetPath(job->input_paths, j, rows[j].path);
        // Whole milliseconds, as the list shows them.
        job->join_total_s = static_cast<int32_t>((rows[j].duration_us / 1000) / 1000.0 + job->join_total_s);
        SetPath(job->output_paths, j, *output_path);
    }
    return created ? LaunchRefusal::None : LaunchRefusal::OutputNotCreated;
}

bool CutSpanIsPossible(int64_t start_ms, int64_t end_ms, int64_t duration_us)
{
    if (end_ms <= start_ms || start_ms < 0)
        return false;
    return duration_us <= 0 || start_ms * 1000 < duration_us;
}

namespace {

void ReleaseReservedFile(int* fd, const char* path)
{
    if (*fd < 0)
        return;
    // Still empty: nothing was written to it, so it is only the reservation.
    if (path && lseek(*fd, 0, SEEK_END) == 0)
        RemoveIfSameFile(*fd, path);
    close(*fd);
    *fd = -1;
}

}  // namespace

void ReleaseReservedOutput(ConversionJob* job)
{
    ReleaseReservedFile(&job->output_fd, job->output_paths ? job->output_paths[0] : nullptr);
    for (size_t i = 0; i < job->later_output_fds.size(); ++i) {
        int fd = job->later_output_fds[i];
        const bool named = job->output_paths && i + 1 < static_cast<size_t>(job->input_count);
        ReleaseReservedFile(&fd, named ? job->output_paths[i + 1] : nullptr);
    }
    job->later_output_fds.clear();
}

void MarkJobStarting(ConversionJob* job, bool join)
{
    job->current_input = -1;
    job->cancel_requested = 0;
    job->progress_percent = 0;
    job->join_mode = join ? 1 : 0;
    job->output_error = 0;
    job->dropped_tracks.clear();
}
