#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Recordings with an advertising break, made once into the folder given: a
# programme of moving numbered pictures and a 440 Hz tone, cut after 7.4 s
# by a break (0.6 s of black and silence, 3 s of colour bars and a 1 kHz
# tone, 0.6 s of black and silence), then the programme again for 6 s. The
# break's edges lie at 7.4 s and 11.6 s of the picture's clock, which starts
# 30 s above zero, as a broadcast's does.
source "$(dirname "${BASH_SOURCE[0]}")/fixture-common.sh" "$@"

size=720x576
v() { echo "format=yuv420p,setsar=16/15"; }
a="aformat=sample_fmts=fltp:sample_rates=48000:channel_layouts=stereo"
graph="testsrc2=s=$size:r=25:d=13.4,$(v),split[a][b];
[a]trim=end=7.4,setpts=PTS-STARTPTS[p1];[b]trim=start=7.4,setpts=PTS-STARTPTS[p2];
color=c=black:s=$size:r=25:d=0.6,$(v)[k1];smptebars=s=$size:r=25:d=3,$(v)[ad];
color=c=black:s=$size:r=25:d=0.6,$(v)[k2];
sine=f=440:r=48000:d=13.4,$a,asplit[s1][s2];
[s1]atrim=end=7.4,asetpts=PTS-STARTPTS[q1];[s2]atrim=start=7.4,asetpts=PTS-STARTPTS[q2];
anullsrc=r=48000:cl=stereo,atrim=end=0.6,$a[z1];sine=f=1000:r=48000:d=3,$a[aq];
anullsrc=r=48000:cl=stereo,atrim=end=0.6,$a[z2];
[p1][q1][k1][z1][ad][aq][k2][z2][p2][q2]concat=n=5:v=1:a=1[v][a0]"

# MPEG-2 interlaced, top field first, with AC-3: a DVB recording.
make_once breaks_mpeg2.ts -filter_complex "$graph;[a0]asetnsamples=n=1536:p=0[a]" -map "[v]" -map "[a]" \
  -c:v mpeg2video -flags +ilme+ildct -top 1 -b:v 6M -maxrate 8M -bufsize 2M -g 12 -bf 2 \
  -c:a ac3 -b:a 192k -output_ts_offset 30
# H.264 with AAC, key pictures every 2 s (none at the break's edges).
make_once breaks_h264.ts -filter_complex "$graph;[a0]asetnsamples=n=1024:p=0[a]" -map "[v]" -map "[a]" \
  -c:v libx264 -preset veryfast -bf 2 -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -output_ts_offset 30
# The same recording in Matroska, packets untouched.
[ -s breaks_h264.ts ] && make_once breaks_h264.mkv -i breaks_h264.ts -map 0 -c copy
