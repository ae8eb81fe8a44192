// SPDX-License-Identifier: GPL-3.0-or-later
#include "input_facts.h"

#include <sys/stat.h>

#include "job_plan.h"
#include "media_input.h"

HeldInput::HeldInput(std::unique_ptr<MediaInput> in, const void* cancel_opaque)
    : in_(std::move(in)), cancel_opaque_(cancel_opaque)
{
}

HeldInput::~HeldInput() = default;

std::unique_ptr<MediaInput> HeldInput::Take(const void* cancel_opaque)
{
    std::lock_guard<std::mutex> hold(lock_);
    return cancel_opaque == cancel_opaque_ ? std::move(in_) : nullptr;
}

bool InputFacts::Readable() const { return probe_result == kProbeOk; }

const InputFacts* UnchangedLaunchFacts(const InputPlan& input)
{
    return input.launch_facts && FactsStillHold(*input.launch_facts, input.path) ? input.launch_facts : nullptr;
}

int64_t NanosecondsOf(const struct timespec& time)
{
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool FactsStillHold(const InputFacts& facts, const std::string& path)
{
    struct stat st {};
    if (facts.path != path || facts.file_size < 0 || stat(path.c_str(), &st) != 0)
        return false;
    return st.st_size == facts.file_size && NanosecondsOf(st.st_mtim) == facts.modified_ns &&
           NanosecondsOf(st.st_ctim) == facts.changed_ns && st.st_ino == facts.inode;
}

int OpenPlannedInput(const InputPlan& input, const void* cancel, const MediaInputOptions& options, MediaInput& in)
{
    const InputFacts* facts = UnchangedLaunchFacts(input);
    if (std::unique_ptr<MediaInput> held = facts && facts->held ? facts->held->Take(cancel) : nullptr) {
        in = std::move(*held);
        const int rc = AdaptMediaInput(in, options);
        if (rc == kProbeOk)
            return rc;
        in = MediaInput{};
    }
    return OpenMediaInput(input.path.c_str(), in, options);
}
