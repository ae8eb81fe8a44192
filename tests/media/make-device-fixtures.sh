#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes files the way broadcast recorders, phones, old phones and AVI tools
# make them, into the folder given (default: ./fixtures). Each file is made
# once; rerunning only fills gaps.
# ffmpeg says only what stops it: some of these files are odd on purpose.
ff_loglevel=fatal
source "$(dirname "${BASH_SOURCE[0]}")/fixture-common.sh" "$@"

# A broadcast recording: its clock starts at 1.47 s, the sound a little
# earlier, key pictures every 2 s, B-frames (decoding times before the start).
make_once broadcast.ts -f lavfi -i "testsrc2=size=320x240:rate=25:duration=8" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=8" \
  -c:v libx264 -preset veryfast -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p -c:a aac -output_ts_offset 0.07
# A phone clip whose rate drops from 30 to 10 pictures a second after 2 s,
# with one key picture: 8 s.
make_once vfr_drop.mp4 -f lavfi -i "testsrc2=size=320x240:rate=30:duration=4" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=8" \
  -vf "setpts='if(lt(N,60),N/30,2+(N-60)/10)/TB'" -fps_mode vfr \
  -c:v libx264 -preset veryfast -g 1000 -keyint_min 1000 -sc_threshold 0 -pix_fmt yuv420p -c:a aac
# 9.4 s about 30 pictures a second with jittered times and B-frames, whose
# stream says 90000 pictures a second (as editors and phone apps write it).
make_once vfr90k.mp4 -f lavfi -i "testsrc2=size=320x240:rate=30:duration=9.4" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=9.4" \
  -vf "settb=1/90000,setpts='(N/30+0.02*random(0))/TB'" -fps_mode vfr -enc_time_base 1:90000 \
  -video_track_timescale 90000 -c:v libx264 -preset veryfast -bf 2 -g 60 -pix_fmt yuv420p \
  -bsf:v h264_metadata=tick_rate=180000 -c:a aac
# An old phone's H.263 in 3GP: 12:11 pixels in the stream, 1:1 in the
# container ('pasp' patched, 8 bytes past its name).
if [ ! -s h263.3gp ]; then
  ff -f lavfi -i "testsrc2=size=176x144:rate=15:duration=4" -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=4" \
    -c:v h263 -aspect 4:3 -g 15 -c:a aac -ar 8000 -ac 1 -b:a 12k h263.tmp.3gp
  at=$(grep -obUa pasp h263.tmp.3gp | head -1 | cut -d: -f1)
  printf '\x00\x00\x00\x01\x00\x00\x00\x01' | dd of=h263.tmp.3gp bs=1 seek=$(( at + 4 )) conv=notrunc status=none
  mv h263.tmp.3gp h263.3gp
fi
# 6.006 s of NTSC pictures over 6.000 s of AAC: the edit list hides the end
# of the last sound packet.
make_once shortest_aac.mp4 -f lavfi -i "testsrc2=size=320x240:rate=30000/1001:duration=6.006" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=6" \
  -c:v libx264 -preset veryfast -g 30 -pix_fmt yuv420p -c:a aac -shortest
# An AVI tool's piece: MPEG-4 pictures and MP3 sound, 3 s.
make_once piece.avi -f lavfi -i "testsrc2=size=320x240:rate=25:duration=3" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" \
  -c:v mpeg4 -q:v 5 -g 25 -c:a libmp3lame -b:a 128k
# A recording whose picture starts 0.72 s after its sound.
make_once late_picture.mp4 -itsoffset 0.72 -f lavfi -i "testsrc2=size=320x240:rate=25:duration=5.28" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=6" -fps_mode passthrough \
  -c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p -c:a aac
# MPEG-2 at a rate the program stream muxer reports "buffer underflow" for.
[ -s dense.mpg ] || { ff -f lavfi -i "testsrc2=size=720x576:rate=25:duration=3" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" -c:v mpeg2video -q:v 1 -g 12 -c:a mp2 \
  -f vob dense.tmp.mpg 2>/dev/null && mv dense.tmp.mpg dense.mpg; }
# Full-HD HEVC at 2 Mbit/s with a key picture every 2 s, as cameras write
# it; level 4, main tier.
make_once hevc1080.mp4 -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=4" -c:v libx265 -preset ultrafast \
  -b:v 2M -x265-params log-level=error:keyint=50:min-keyint=50:scenecut=0 -tag:v hvc1 -pix_fmt yuv420p
