// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_runner.h"

#include "conversion_job.h"
#include "job_reading.h"
#include "job_setup.h"
#include "worker.h"

#include <QTimerEvent>

JobRunner::JobRunner(QObject* parent) : QObject(parent) {}

JobRunner::~JobRunner()
{
    StopPolling();
    if (m_worker.joinable()) {
        if (m_job)
            m_job->cancel_requested = 1;
        m_worker.join();
    }
}

void JobRunner::Launch(ConversionJob* job, bool join)
{
    MarkJobStarting(job, join);
    Adopt(job, StartConversionWorker(job));
    if (m_timerId == 0)
        m_timerId = startTimer(kPollMs);
}

void JobRunner::Adopt(ConversionJob* job, std::thread worker)
{
    if (m_worker.joinable())
        m_worker.join();
    m_job = job;
    m_worker = std::move(worker);
}

void JobRunner::StopPolling()
{
    if (m_timerId != 0)
        killTimer(m_timerId);
    m_timerId = 0;
}

void JobRunner::Join(bool cancel)
{
    StopPolling();
    if (!m_worker.joinable())
        return;
    if (cancel && m_job)
        m_job->cancel_requested = 1;
    m_worker.join();
    if (!m_job)
        return;
    const JobReading ended = ReadJob(*m_job);
    emit finished(ended.all_done, static_cast<int>(ended.FirstReason()));
}

void JobRunner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timerId && m_timerId != 0) {
        emit polled();
        return;
    }
    QObject::timerEvent(event);
}
