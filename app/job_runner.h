// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One job on its worker thread: launched, polled every 500 ms while it runs,
// and joined. It reports each poll and, once the worker has ended, whether
// every input was done and, if not, the first reason why. The window owns
// one; a queue could hold several, each with its own record.

#include <QObject>

#include <thread>

struct ConversionJob;
struct JobReading;

class JobRunner : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 500;

    explicit JobRunner(QObject* parent = nullptr);
    // A worker still running is asked to stop and joined: its record is
    // never freed under it.
    ~JobRunner() override;

    // Starts the worker on `job`, marked as a cut or a join, and the poll.
    void Launch(ConversionJob* job, bool join);
    // Takes over a running worker of `job`; one before is joined first.
    void Adopt(ConversionJob* job, std::thread worker);
    void StopPolling();
    bool Polling() const { return m_timerId != 0; }
    // From the launch until the worker has been joined.
    bool Running() const { return m_worker.joinable(); }
    // Asks the worker to stop (when `cancel`), waits for it, and reports finished.
    void Join(bool cancel);

signals:
    // Every 500 ms while polling.
    void polled();
    // Once the worker has been joined: every input done, or the first
    // failure's reason (a FailureReason; 0 when stopped with nothing failed).
    void finished(bool ok, int reason);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    ConversionJob* m_job = nullptr;
    std::thread m_worker;
    int m_timerId = 0;
};
