// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

struct ConversionJob;

// Opens job->probe_path, writes its facts into the probe fields and closes it
// again. Returns 0, or -1 (not a media container), -2 (no stream
// information), -4 (video stream without decoder), -5 (video decoder fails).
int ProbeMedia(ConversionJob* job);
int ProbeMedia();  // on g_pJob
