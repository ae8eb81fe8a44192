// SPDX-License-Identifier: GPL-3.0-or-later
// What became of a job's inputs, as plain values: each input's status byte
// and the reason beside it. The record carries them across threads; every
// step below the worker's door names its failures with them.
#pragma once

#include <cstdint>
#include <string>

constexpr int kMaxJobInputs = 999;

constexpr uint8_t kInputPending = 0xFF;
constexpr uint8_t kInputDone = 1;
constexpr uint8_t kInputFailed = 2;

// Why an input failed, written beside its status byte (before it, by the
// same writer), so whoever sees "failed" also sees why.
enum class FailureReason : uint8_t {
    None = 0,
    Unreadable,        // missing, or no permission to read it
    NotMedia,          // not a media file, or streams/decoder unusable
    NothingInSpan,     // the cut starts at or past what the file holds
    CutShort,          // the file holds less than it says, or breaks off
    PictureLost,       // the output would lack the picture the input has
    NotAccepted,       // the output cannot take this input's codecs
    DiffersFromFirst,  // a direct join: not of the first file's kind
    WriteFailed,       // the output could not be written (see output_error)
    OutputGone,        // the output file was moved or deleted meanwhile
    Stopped,           // the user stopped the job
    DamagedWithin,     // what a span holds is missing or misplaced in the file
};

// The reason in plain English, for the command-line tool and logs.
const char* FailureReasonText(FailureReason reason);
// The reason with what the media libraries said of it (`av_error`, an
// AVERROR code; 0 adds nothing): "the output could not be written (No space
// left on device)". Every message that names a failed input uses it.
std::string FailureReasonWithCause(FailureReason reason, int av_error);
