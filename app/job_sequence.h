// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Jobs run one after another, each on the worker in a record of its own,
// never two at once: the batch cut of the ticked files and the queue both
// run this way. A job that fails or is refused is marked so and the next one
// starts; a stop ends the running job and the sequence.

#include "job_reading.h"
#include "queued_job.h"

#include <QObject>

#include <memory>
#include <vector>

class JobRunner;

class JobSequence : public QObject {
    Q_OBJECT

public:
    explicit JobSequence(QObject* parent = nullptr);
    // A running job is stopped and its worker joined first.
    ~JobSequence() override;

    std::vector<QueuedJob>& Jobs() { return m_jobs; }
    const std::vector<QueuedJob>& Jobs() const { return m_jobs; }
    // Appends `job` with a fresh id (returned) as queued.
    uint64_t Add(QueuedJob job);
    int IndexOf(uint64_t id) const;
    // Removes a job that is not running; false when it is, or there is none.
    bool Remove(uint64_t id);
    // Moves a job one place up (-1) or down (+1); false at either end.
    bool Move(uint64_t id, int by);

    // Runs the queued jobs in list order, the ones added meanwhile too,
    // until none is left or Stop.
    void Start();
    void Stop();
    bool Running() const { return m_running; }
    // The running job's id, 0 between jobs or when idle.
    uint64_t RunningId() const { return m_current; }
    // The running job's record; null when none runs.
    const ConversionJob* Record() const { return m_record; }

signals:
    // Every poll of the running job, with what its record says.
    void progress(quint64 id, const JobReading& reading);
    // A job's state, outputs or the list itself changed.
    void changed();
    // No queued job is left, or the sequence was stopped.
    void ended();

private:
    void RunNext();
    void OnPolled();
    void OnFinished();
    void Finish(QueuedState state, const QueuedOutcome& outcome, std::vector<std::string> outputs);
    void FreeRecord();
    QueuedJob* Current();

    std::vector<QueuedJob> m_jobs;
    uint64_t m_nextId = 1;
    JobRunner* m_runner;
    ConversionJob* m_record = nullptr;
    uint64_t m_current = 0;
    bool m_running = false;
    bool m_stopAsked = false;
};
