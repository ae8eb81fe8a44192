// SPDX-License-Identifier: GPL-3.0-or-later
// The reading of a job's record on records filled by hand: no worker runs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "conversion_job.h"
#include "job_reading.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

using R = FailureReason;

struct Case {
    const char* what;
    const char* statuses;  // one letter an input: d done, f failed, p pending
    R reason;              // of every failed input
    int current;
    bool stop;
    int error;
    // Expected.
    int reached, finished, done, failed, stopped, first_failed;
    bool ended, all_done, disk_full;
    const char* in_output;  // one letter an input: y in the output, n not
};

const Case kCases[] = {
    {"not started", "pp", R::None, -1, false, 0, 0, 0, 0, 0, 0, -1, false, false, false, "nn"},
    {"on the second", "dpp", R::None, 1, false, 0, 1, 1, 1, 0, 0, -1, false, false, false, "ynn"},
    {"all done", "ddd", R::None, 3, false, 0, 3, 3, 3, 0, 0, -1, true, true, false, "yyy"},
    {"completion reported", "ddd", R::None, 4, false, 0, 3, 3, 3, 0, 0, -1, true, true, false, "yyy"},
    {"second differs", "dfd", R::DiffersFromFirst, 3, false, 0, 3, 3, 2, 1, 0, 1, true, false, false, "yny"},
    {"stopped in the second", "dpp", R::None, 2, true, 0, 2, 1, 1, 0, 2, -1, false, false, false, "yyn"},
    {"failed for the stop", "fp", R::Stopped, 1, true, 0, 1, 1, 0, 1, 2, 0, false, false, false, "nn"},
    {"disk full", "dff", R::WriteFailed, 3, false, ENOSPC, 3, 3, 1, 2, 0, 1, true, false, true, "ynn"},
    {"quota full", "f", R::WriteFailed, 1, false, EDQUOT, 1, 1, 0, 1, 0, 0, true, false, true, "n"},
    {"write failed otherwise", "f", R::WriteFailed, 1, false, EIO, 1, 1, 0, 1, 0, 0, true, false, false, "n"},
    {"no inputs", "", R::None, 0, false, 0, 0, 0, 0, 0, 0, -1, false, false, false, ""},
};

uint8_t StatusOf(char letter)
{
    return letter == 'd' ? kInputDone : letter == 'f' ? kInputFailed : kInputPending;
}

class JobReadingTest : public ::testing::Test {
protected:
    void SetUp() override { InitConversionJob(job.get()); }
    void TearDown() override
    {
        FreePathArray(job->output_paths, outputs);
        std::filesystem::remove_all(folder);
    }

    void Fill(const char* statuses, R reason, int current, bool stop = false, int error = 0)
    {
        job->input_count = static_cast<int>(std::strlen(statuses));
        for (int i = 0; i < job->input_count; ++i) {
            job->input_status[i] = StatusOf(statuses[i]);
            job->input_reason[i] = job->input_status[i] == kInputFailed ? reason : R::None;
        }
        job->current_input = current;
        job->cancel_requested = stop ? 1 : 0;
        job->output_error = error;
    }

    // One output a letter of `on_disk`, in a fresh folder; those marked 'y' exist.
    void MakeOutputs(const std::string& on_disk)
    {
        outputs = static_cast<int>(on_disk.size());
        job->output_paths = AllocPathArray(outputs);
        for (int o = 0; o < outputs; ++o) {
            const std::string path = (folder / ("out-" + std::to_string(o) + ".mp4")).string();
            std::strcpy(job->output_paths[o], path.c_str());
            if (on_disk[o] == 'y')
                std::ofstream(path) << "x";
        }
    }

    std::unique_ptr<ConversionJob> job = std::make_unique<ConversionJob>();
    int outputs = 0;
    std::filesystem::path folder = [] {
        auto f = std::filesystem::temp_directory_path() /
                 ("morvane-reading-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(f);
        std::filesystem::create_directories(f);
        return f;
    }();
};

TEST_F(JobReadingTest, EachRecordReadsAsItsInputsStand)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        Fill(c.statuses, c.reason, c.current, c.stop, c.error);
        job->progress_percent = 42;
        const JobReading r = ReadJob(*job);
        EXPECT_EQ(r.current, c.current);
        EXPECT_EQ(r.percent, 42);
        ASSERT_EQ(static_cast<int>(r.inputs.size()), job->input_count);
        EXPECT_EQ(r.reached, c.reached);
        EXPECT_EQ(r.finished, c.finished);
        EXPECT_EQ(r.done, c.done);
        EXPECT_EQ(r.failed, c.failed);
        EXPECT_EQ(r.stopped, c.stopped);
        EXPECT_EQ(r.first_failed, c.first_failed);
        EXPECT_EQ(r.FirstReason(), c.first_failed >= 0 ? c.reason : R::None);
        EXPECT_EQ(r.ended, c.ended);
        EXPECT_EQ(r.all_done, c.all_done);
        EXPECT_EQ(r.stop_asked, c.stop);
        EXPECT_EQ(r.output_error, c.error);
        EXPECT_EQ(r.disk_full, c.disk_full);
        std::string in_output;
        for (const InputReading& in : r.inputs)
            in_output += in.in_output ? 'y' : 'n';
        EXPECT_EQ(in_output, c.in_output);
        for (int i = 0; i < job->input_count; ++i)
            EXPECT_EQ(r.inputs[i].status, StatusOf(c.statuses[i])) << i;
        EXPECT_TRUE(r.kept.empty());  // no output paths
    }
}

TEST_F(JobReadingTest, KeptOutputsAreTheJobsFilesOnDiskInOrder)
{
    Fill("ddd", R::None, 3);
    MakeOutputs("yny");
    job->separate_outputs = 1;  // one file a span
    const JobReading separate = ReadJob(*job);
    ASSERT_EQ(separate.kept.size(), 2u);
    EXPECT_EQ(separate.kept[0], job->output_paths[0]);
    EXPECT_EQ(separate.kept[1], job->output_paths[2]);

    // In one file only output 0 is the job's; the rest of the slots repeat it.
    job->separate_outputs = 0;
    const JobReading one = ReadJob(*job);
    ASSERT_EQ(one.kept.size(), 1u);
    EXPECT_EQ(one.kept[0], job->output_paths[0]);

    std::filesystem::remove(job->output_paths[0]);
    EXPECT_TRUE(ReadJob(*job).kept.empty());
}

}  // namespace

// The bar of the input shown as current belongs to that input: one the worker
// has marked done but not yet moved past reads whole, whatever was written last.
TEST_F(JobReadingTest, TheCurrentInputsPercentIsItsOwn)
{
    const struct {
        const char* statuses;
        int current, written, read;
    } cases[] = {
        {"pp", 0, 37, 37}, {"dp", 0, 37, 100}, {"dp", 1, 0, 0}, {"fp", 0, 37, 37}, {"dd", 2, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.statuses) + " at " + std::to_string(c.current));
        Fill(c.statuses, R::Unreadable, c.current);
        job->progress_percent = c.written;
        EXPECT_EQ(ReadJob(*job).percent, c.read);
    }
}

TEST(FailureWords, TheLibrariesAnswerFollowsTheReasonWhenThereIsOne)
{
    const struct {
        FailureReason reason;
        int av_error;
        const char* text;
    } cases[] = {
        {FailureReason::WriteFailed, AVERROR(ENOSPC), "the output could not be written (No space left on device)"},
        {FailureReason::CutShort, AVERROR_INVALIDDATA,
         "the file holds less than it says (cut short or damaged) (Invalid data found when processing input)"},
        {FailureReason::NotMedia, 0, "not a media file the program can open"},
        {FailureReason::Stopped, 0, "stopped"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FailureReasonWithCause(c.reason, c.av_error), c.text);
}
