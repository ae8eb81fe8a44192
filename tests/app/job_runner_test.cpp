// SPDX-License-Identifier: GPL-3.0-or-later
// The job runner on its own: it polls while its worker runs, and reports
// once, after the worker has been joined, what the record says the job came to.
#include "job_runner.h"

#include "conversion_job.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

TEST(JobRunnerTest, ItPollsWhileTheWorkerRunsAndReportsTheEndOnceJoined)
{
    const struct {
        const char* what;
        uint8_t second;  // the status the worker gives the second input
        FailureReason reason;
        bool cancel;
        bool ok;
    } cases[] = {
        {"all done", kInputDone, FailureReason::None, false, true},
        {"second cut short", kInputFailed, FailureReason::CutShort, false, false},
        {"stopped", kInputPending, FailureReason::None, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto job = std::make_unique<ConversionJob>();
        InitConversionJob(job.get());
        job->input_count = 2;
        std::atomic<bool> release{false};
        JobRunner runner;
        QSignalSpy polled(&runner, &JobRunner::polled);
        QSignalSpy finished(&runner, &JobRunner::finished);
        ASSERT_TRUE(polled.isValid() && finished.isValid());
        ConversionJob* record = job.get();
        runner.Adopt(record, std::thread([record, &release, c] {
            record->input_status[0] = kInputDone;
            while (!release && !record->cancel_requested)
                std::this_thread::yield();
            record->input_reason[1] = c.reason;
            record->input_status[1] = c.second;
            record->current_input = c.cancel ? 1 : 2;
        }));
        EXPECT_TRUE(runner.Running());
        if (!c.cancel)
            release = true;
        runner.Join(c.cancel);
        EXPECT_FALSE(runner.Running());
        ASSERT_EQ(finished.count(), 1);
        EXPECT_EQ(finished[0][0].toBool(), c.ok);
        EXPECT_EQ(finished[0][1].toInt(), static_cast<int>(c.reason));
        EXPECT_EQ(polled.count(), 0);  // adopted, not launched: nobody asked for a poll
        runner.Join(false);            // nothing left to join: no second report
        EXPECT_EQ(finished.count(), 1);
    }

    // Launched, it polls every 500 ms until it is joined, and then no more.
    auto job = std::make_unique<ConversionJob>();
    InitConversionJob(job.get());
    JobRunner runner;
    QSignalSpy polled(&runner, &JobRunner::polled);
    runner.Launch(job.get(), false);
    QTRY_VERIFY_WITH_TIMEOUT(polled.count() >= 2, 20000);
    runner.Join(false);
    const int afterJoin = polled.count();
    QTest::qWait(3 * JobRunner::kPollMs);
    EXPECT_EQ(polled.count(), afterJoin);
}
