// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_sequence.h"

#include "conversion_job.h"
#include "job_runner.h"

#include <QTimer>

#include <algorithm>

JobSequence::JobSequence(QObject* parent) : QObject(parent), m_runner(new JobRunner(this))
{
    connect(m_runner, &JobRunner::polled, this, &JobSequence::OnPolled);
    connect(m_runner, &JobRunner::finished, this, &JobSequence::OnFinished);
}

JobSequence::~JobSequence()
{
    // Nobody is told any more: the worker is stopped and joined quietly.
    disconnect(m_runner, nullptr, this, nullptr);
    m_runner->Join(true);
    FreeRecord();
}

uint64_t JobSequence::Add(QueuedJob job)
{
    for (const QueuedJob& kept : m_jobs)
        m_nextId = std::max(m_nextId, kept.id + 1);
    job.id = m_nextId++;
    job.state = QueuedState::Queued;
    job.outputs.clear();
    job.outcome = {};
    job.cut_at_keys = false;
    m_jobs.push_back(std::move(job));
    emit changed();
    return m_jobs.back().id;
}

int JobSequence::IndexOf(uint64_t id) const
{
    for (size_t i = 0; i < m_jobs.size(); ++i)
        if (m_jobs[i].id == id)
            return static_cast<int>(i);
    return -1;
}

bool JobSequence::Remove(uint64_t id)
{
    const int at = IndexOf(id);
    if (at < 0 || id == m_current)
        return false;
    m_jobs.erase(m_jobs.begin() + at);
    emit changed();
    return true;
}

bool JobSequence::Move(uint64_t id, int by)
{
    const int at = IndexOf(id);
    const int to = at + by;
    if (at < 0 || to < 0 || to >= static_cast<int>(m_jobs.size()))
        return false;
    std::swap(m_jobs[at], m_jobs[to]);
    emit changed();
    return true;
}

void JobSequence::Start()
{
    if (m_running)
        return;
    m_running = true;
    m_stopAsked = false;
    RunNext();
}

void JobSequence::Stop()
{
    m_stopAsked = true;
    if (m_runner->Running()) {
        m_runner->Join(true);  // OnFinished ends the sequence
        return;
    }
    if (m_running && m_current == 0) {
        m_running = false;
        emit ended();
    }
}

QueuedJob* JobSequence::Current()
{
    const int at = IndexOf(m_current);
    return at < 0 ? nullptr : &m_jobs[at];
}

// A job that cannot start is marked and the next one tried, after the
// events that came meanwhile, so a long list of refusals keeps the window
// answering.
void JobSequence::RunNext()
{
    m_current = 0;
    const auto next = std::find_if(m_jobs.begin(), m_jobs.end(),
                                   [](const QueuedJob& job) { return job.state == QueuedState::Queued; });
    if (m_stopAsked || next == m_jobs.end()) {
        m_running = false;
        emit ended();
        return;
    }
    next->state = QueuedState::Running;
    m_current = next->id;
    emit changed();

    m_record = new ConversionJob();
    InitConversionJob(m_record);
    std::vector<std::string> outputs;
    LaunchDecision decided;
    const QueuedOutcome prepared = PrepareQueuedJob(*next, m_record, &outputs, &decided);
    next->cut_at_keys = decided.exact_fell_back;
    if (prepared.problem != QueuedProblem::None) {
        Finish(QueuedState::Failed, prepared, {});
        QTimer::singleShot(0, this, &JobSequence::RunNext);
        return;
    }
    if (QueuedJob* job = Current())
        job->outputs = outputs;
    m_runner->Launch(m_record, next->kind == QueuedKind::Join);
}

void JobSequence::OnPolled()
{
    if (!m_record)
        return;
    const JobReading reading = ReadJob(*m_record);
    emit progress(m_current, reading);
    if (reading.ended)
        m_runner->Join(false);
}

void JobSequence::OnFinished()
{
    if (!m_record)
        return;
    QueuedState state = QueuedState::Failed;
    std::vector<std::string> kept;
    const QueuedOutcome outcome = OutcomeOfRun(*m_record, &state, &kept);
    Finish(state, outcome, std::move(kept));
    if (m_stopAsked) {
        m_current = 0;
        m_running = false;
        emit ended();
        return;
    }
    QTimer::singleShot(0, this, &JobSequence::RunNext);
}

void JobSequence::Finish(QueuedState state, const QueuedOutcome& outcome, std::vector<std::string> outputs)
{
    FreeRecord();
    if (QueuedJob* job = Current()) {
        job->state = state;
        job->outcome = outcome;
        job->outputs = std::move(outputs);
    }
    emit changed();
}

void JobSequence::FreeRecord()
{
    if (!m_record)
        return;
    ReleaseReservedOutput(m_record);
    FreeConversionJob(&m_record);
}
