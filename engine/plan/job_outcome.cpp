// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_outcome.h"

extern "C" {
#include <libavutil/error.h>
}

const char* FailureReasonText(FailureReason reason)
{
    switch (reason) {
    case FailureReason::None: return "failed";
    case FailureReason::Unreadable: return "the file cannot be read";
    case FailureReason::NotMedia: return "not a media file the program can open";
    case FailureReason::NothingInSpan: return "the file holds nothing within the cut";
    case FailureReason::CutShort: return "the file holds less than it says (cut short or damaged)";
    case FailureReason::PictureLost: return "the file's picture cannot be read (damaged), only its sound";
    case FailureReason::NotAccepted: return "the output cannot take this file's codecs";
    case FailureReason::DiffersFromFirst: return "the file differs from the first one";
    case FailureReason::WriteFailed: return "the output could not be written";
    case FailureReason::OutputGone: return "the output file was moved or deleted during the job";
    case FailureReason::Stopped: return "stopped";
    case FailureReason::DamagedWithin: return "the file is damaged within the cut";
    }
    return "failed";
}

std::string FailureReasonWithCause(FailureReason reason, int av_error)
{
    std::string text = FailureReasonText(reason);
    char said[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_error < 0 && av_strerror(av_error, said, sizeof said) == 0)
        text += std::string(" (") + said + ")";
    return text;
}
