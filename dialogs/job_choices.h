// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The options last chosen in the cut and join settings dialogs, read by the
// launches. Process-wide, as the dialogs and the launches meet only here.

#include "job_setup.h"

extern EncodingChoice CutChoice;
extern EncodingChoice JoinChoice;
