// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's door: the one reading of the shared record into a plan.
#pragma once

#include "job_plan.h"

struct ConversionJob;

// Reads `job` once: each input's path and span in whole microseconds, and
// whether the exact cut applies to it (decided here, once, for the run).
JobPlan PlanJob(const ConversionJob* job);
// What the steps below the door report into: the record's own fields.
JobReports ReportsOf(ConversionJob* job);
