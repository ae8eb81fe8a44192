// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_choices.h"

EncodingChoice CutChoice;
EncodingChoice JoinChoice;
