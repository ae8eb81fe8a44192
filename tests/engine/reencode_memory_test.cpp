// SPDX-License-Identifier: GPL-3.0-or-later
// Peak memory of a re-encode over a long stretch without sound; a process of
// its own, since the peak is the whole process's.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "conversion_job.h"
#include "job_setup.h"
#include "media_checks.h"

class ReencodeMemory : public JobTest {};

TEST_F(ReencodeMemory, TenMinutesOfMadeUpSilenceStayUnder150MB)
{
    // Sound ends 598 s before the picture: the cut fills the rest with silence.
    EncodingChoice choice = DefaultCutChoice("source rate");
    choice.direct = false;
    ApplyFormatEntry(1, &choice);
    choice.width = 160;
    choice.height = 120;
    Cut("early_sound_end.mp4", "0", "00:10:00.000", choice);
    EXPECT_EQ(Status(0), kInputDone);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss / 1024, 150);  // kilobytes on Linux
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_NEAR(f.VideoSeconds(), 600, 1.5);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, f.VideoSeconds(), 0.1);
}
