#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Media for the exact-cut tests, made once into the folder given: short clips
# of the codecs and containers an exact cut handles, key frames 2 s apart.
source "$(dirname "${BASH_SOURCE[0]}")/fixture-common.sh" "$@"

tone="sine=frequency=440:sample_rate=48000"
gop="-g 50 -keyint_min 50 -sc_threshold 0"

# 1080p H.264 High with B-frames, AAC, 6 s.
make_once exact_h264_1080.mp4 -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx264 -preset ultrafast -tune zerolatency -profile:v high \
  -x264-params cabac=1:8x8dct=1:bframes=2:b-adapt=0:sync-lookahead=0:rc-lookahead=10 $gop -crf 26 \
  -pix_fmt yuv420p -c:a aac -b:a 96k -shortest
# H.264 with an open GOP.
make_once exact_h264_open.mp4 -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx264 -preset veryfast -bf 3 $gop -x264-params open-gop=1 \
  -pix_fmt yuv420p -c:a aac -b:a 96k -shortest
# HEVC Main 10 in MP4 tagged hvc1.
make_once exact_hevc10.mp4 -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx265 -preset ultrafast -pix_fmt yuv420p10le \
  -x265-params keyint=50:min-keyint=50:scenecut=0:bframes=3:log-level=error -tag:v hvc1 \
  -c:a aac -b:a 96k -shortest
# MPEG-4 ASP in AVI with MP3.
make_once exact_mpeg4.avi -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg4 -profile:v 15 -q:v 4 $gop -c:a libmp3lame -b:a 96k -shortest
# MPEG-4 ASP with B-frames and open GOPs: in AVI with MP3, in MP4 and in
# Matroska with AAC (each key picture with its layer header, as camera and
# converter files have it); packed in AVI as Xvid writes it.
make_once exact_mpeg4_b.avi -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg4 -q:v 4 $gop -bf 2 -c:a libmp3lame -b:a 96k -shortest
make_once exact_mpeg4_b.mp4 -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg4 -q:v 4 $gop -bf 2 -bsf:v dump_extra=freq=keyframe -c:a aac -b:a 96k -shortest
make_once exact_mpeg4_b.mkv -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg4 -q:v 4 $gop -bf 2 -bsf:v dump_extra=freq=keyframe -c:a aac -b:a 96k -shortest
make_once exact_xvid_packed.avi -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libxvid -q:v 4 $gop -bf 2 -c:a libmp3lame -b:a 96k -shortest
# The same with key pictures a quarter second apart, most carrying a
# leading B-picture and followed by a placeholder that Xvid marks as key.
make_once exact_xvid_close_keys.avi -f lavfi -i "testsrc2=size=176x144:rate=25:duration=4" \
  -c:v libxvid -q:v 4 -g 6 -bf 2
# H.264 in Matroska with Vorbis-free AAC sound.
make_once exact_h264.mkv -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx264 -preset veryfast -bf 2 $gop -pix_fmt yuv420p \
  -c:a aac -b:a 96k -shortest
# MPEG-2 video alone, in a program stream.
make_once exact_mpeg2.mpg -f lavfi -i "testsrc2=size=320x240:rate=25:duration=6" \
  -c:v mpeg2video -q:v 4 $gop
# Broadcast-like transport streams, their clock 10 s above zero: H.264 with
# AC-3 sound, HEVC with open GOPs, interlaced MPEG-2 (top field first) with MP2.
make_once exact_h264.ts -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx264 -preset veryfast -bf 2 $gop -pix_fmt yuv420p \
  -c:a ac3 -b:a 128k -shortest -output_ts_offset 10
make_once exact_hevc.ts -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx265 -preset ultrafast -pix_fmt yuv420p \
  -x265-params keyint=50:min-keyint=50:scenecut=0:bframes=3:open-gop=1:log-level=error \
  -c:a aac -b:a 96k -shortest -output_ts_offset 10
make_once exact_mpeg2.ts -f lavfi -i "testsrc2=size=720x576:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg2video -b:v 5M -maxrate 8M -bufsize 1835k $gop -bf 2 \
  -flags +ilme+ildct -top 1 -c:a mp2 -b:a 192k -shortest -output_ts_offset 10
# The clock of a transport stream wraps round 2^33 ticks of 90 kHz about 3 s
# into this one (its reader counts the times before the wrap as negative).
make_once exact_h264_wrap.ts -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libx264 -preset veryfast -bf 2 $gop -pix_fmt yuv420p \
  -c:a ac3 -b:a 128k -shortest -output_ts_offset 95439.32
# A DVD recorder's VOB: interlaced MPEG-2 (top field first, 16:9) with AC-3,
# its clock at 7.26 s, between two picture ticks of the 25 Hz grid.
make_once exact_mpeg2.vob -f lavfi -i "testsrc2=size=720x576:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg2video -b:v 5M -maxrate 8M -bufsize 1835k $gop -bf 2 \
  -flags +ilme+ildct -top 1 -aspect 16:9 -c:a ac3 -b:a 192k -shortest -output_ts_offset 7.26 -f vob
# Interlaced MPEG-2, bottom field first, in Matroska.
make_once exact_mpeg2_bff.mkv -f lavfi -i "testsrc2=size=720x576:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v mpeg2video -b:v 5M -maxrate 8M -bufsize 1835k $gop -bf 2 \
  -flags +ilme+ildct -top 0 -c:a mp2 -b:a 192k -shortest
# VP9 in WebM.
make_once exact_vp9.webm -f lavfi -i "testsrc2=size=640x360:rate=25:duration=6" \
  -f lavfi -i "$tone:duration=6" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 1M $gop \
  -c:a libvorbis -shortest
# A codec an exact cut does not re-encode: Sorenson H.263 in FLV.
make_once exact_flv1.flv -f lavfi -i "testsrc2=size=320x240:rate=25:duration=6" -c:v flv -q:v 4 $gop
