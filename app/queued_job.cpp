// SPDX-License-Identifier: GPL-3.0-or-later
#include "queued_job.h"

#include "conversion_job.h"
#include "cut_list.h"
#include "input_facts.h"
#include "job_reading.h"
#include "media_input.h"
#include "probe.h"

#include <cmath>

namespace {

QueuedOutcome Problem(QueuedProblem problem, int code = 0, const std::string& file = {})
{
    return {problem, code, file};
}

QueuedOutcome Refusal(LaunchRefusal why, const std::string& file)
{
    return why == LaunchRefusal::None ? QueuedOutcome{} : Problem(QueuedProblem::Refused, static_cast<int>(why), file);
}

// The spans this file is cut to: a span that starts at or past the file's
// end finds nothing there, so the file is too short for the cut.
QueuedOutcome SpansForFile(const QueuedJob& queued, const InputFacts& facts, std::vector<CutSpan>* spans)
{
    const std::string& path = queued.files.front();
    for (const CutSpan& span : queued.spans) {
        if (span.end_ms > span.start_ms && !CutSpanIsPossible(span.start_ms, span.end_ms, facts.duration_us))
            return Problem(QueuedProblem::TooShort, 0, path);
    }
    *spans = queued.spans;
    if (!queued.remove_spans)
        return {};
    // A kept part shorter than a picture would hold nothing.
    const int64_t picture_ms =
        facts.fps_num > 0 && facts.fps_den > 0 ? (1000LL * facts.fps_den + facts.fps_num - 1) / facts.fps_num : 40;
    std::vector<CutSpan> kept;
    std::string why;
    if (!KeptPartsAfterRemoving(queued.spans, facts.duration_us / 1000, picture_ms, &kept, &why))
        return Problem(QueuedProblem::NothingLeft, 0, path);
    *spans = std::move(kept);
    return {};
}

QueuedOutcome PrepareCut(const QueuedJob& queued, ConversionJob* job, std::vector<std::string>* outputs,
                         LaunchDecision* decided)
{
    if (queued.files.size() != 1 || queued.spans.empty())
        return Problem(QueuedProblem::Refused, static_cast<int>(LaunchRefusal::EmptySpan));
    const std::string& path = queued.files.front();
    InputFacts facts;
    const int rc = ReadInputFacts(path, &facts);
    if (rc != kProbeOk)
        return Problem(QueuedProblem::Unopened, rc, path);
    std::vector<CutSpan> spans;
    const QueuedOutcome checked = SpansForFile(queued, facts, &spans);
    if (checked.problem != QueuedProblem::None)
        return checked;
    return Refusal(FillSpansJob(job, path, spans, queued.target, queued.choice, queued.separate, outputs, &facts, decided),
                   path);
}

QueuedOutcome PrepareJoin(const QueuedJob& queued, ConversionJob* job, std::vector<std::string>* outputs)
{
    std::vector<JoinRow> rows;
    for (const std::string& path : queued.files) {
        JoinRow row;
        row.path = path;
        const int rc = ReadInputFacts(path, &row.facts);
        if (rc != kProbeOk)
            return Problem(QueuedProblem::Unopened, rc, path);
        row.duration_us = row.facts.duration_us;
        row.width = row.facts.width;
        row.height = row.facts.height;
        row.fps = row.facts.fps_den > 0 ? static_cast<double>(row.facts.fps_num) / row.facts.fps_den : 0;
        rows.push_back(std::move(row));
    }
    std::string output;
    JoinMismatch mismatch;
    const LaunchRefusal why = FillJoinJob(job, rows, queued.target, queued.choice, &output, &mismatch);
    if (why == LaunchRefusal::None)
        outputs->assign(1, output);
    const int differs = why == LaunchRefusal::TrackLayoutDiffers ? mismatch.tracks.file : mismatch.input;
    return Refusal(why, differs >= 0 && differs < static_cast<int>(rows.size()) ? rows[differs].path : std::string());
}

}  // namespace

QueuedOutcome PrepareQueuedJob(const QueuedJob& queued, ConversionJob* job, std::vector<std::string>* outputs,
                               LaunchDecision* decided)
{
    outputs->clear();
    *decided = {};
    if (queued.files.empty())
        return Problem(QueuedProblem::Refused, static_cast<int>(LaunchRefusal::TooFewInputs));
    return queued.kind == QueuedKind::Join ? PrepareJoin(queued, job, outputs) : PrepareCut(queued, job, outputs, decided);
}

QueuedOutcome OutcomeOfRun(const ConversionJob& job, QueuedState* state, std::vector<std::string>* kept)
{
    const JobReading reading = ReadJob(job);
    *kept = reading.kept;
    if (reading.all_done) {
        *state = QueuedState::Done;
        return {};
    }
    const bool failedFirst = reading.first_failed >= 0 && reading.FirstReason() != FailureReason::Stopped;
    if (reading.stop_asked && !failedFirst) {
        *state = QueuedState::Stopped;
        return Problem(QueuedProblem::Stopped);
    }
    *state = QueuedState::Failed;
    if (reading.first_failed < 0)
        return Problem(QueuedProblem::InputFailed, static_cast<int>(FailureReason::None));
    const char* path = job.input_paths ? job.input_paths[reading.first_failed] : nullptr;
    return Problem(QueuedProblem::InputFailed, static_cast<int>(reading.FirstReason()), path ? path : "");
}
