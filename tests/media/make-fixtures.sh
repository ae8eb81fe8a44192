#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the small media files the engine tests run on, into the folder given
# (default: ./fixtures). Each file is made once; rerunning only fills gaps.
source "$(dirname "${BASH_SOURCE[0]}")/fixture-common.sh" "$@"

pic="testsrc2=size=320x240:rate=25"
tone="sine=frequency=440:sample_rate=44100"

# 10 s H.264 with B-frames (GOP 50, so key frames every 2 s) and AAC stereo.
make_once h264_aac.mp4 -f lavfi -i "$pic:duration=10" -f lavfi -i "$tone:duration=10" \
  -c:v libx264 -preset veryfast -bf 2 -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -ac 2 -shortest
# The same pictures in Matroska, whose key pictures are listed in its cues.
make_once h264_aac.mkv -i h264_aac.mp4 -c copy
# A second clip of the same kind, 4 s, for direct joins.
make_once h264_aac_b.mp4 -f lavfi -i "testsrc=size=320x240:rate=25:duration=4" \
  -f lavfi -i "sine=frequency=660:sample_rate=44100:duration=4" \
  -c:v libx264 -preset veryfast -bf 2 -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -ac 2 -shortest
# MPEG-4 part 2 with MP3 in AVI, 6 s.
make_once mpeg4_mp3.avi -f lavfi -i "$pic:duration=6" -f lavfi -i "$tone:duration=6" \
  -c:v mpeg4 -q:v 5 -g 25 -c:a libmp3lame -b:a 128k -ac 2 -shortest
# MPEG-2 video with MP2 audio in a transport stream, 8 s.
make_once mpeg2.ts -f lavfi -i "$pic:duration=8" -f lavfi -i "$tone:duration=8" \
  -c:v mpeg2video -q:v 5 -g 25 -c:a mp2 -b:a 128k -ac 2 -shortest
# A codec no exact cut takes: Sorenson H.263 with MP3 in FLV, 4 s.
make_once flv1.flv -f lavfi -i "$pic:duration=4" -f lavfi -i "$tone:duration=4" \
  -c:v flv -q:v 5 -g 25 -c:a libmp3lame -b:a 128k -ar 44100 -ac 2 -shortest
# Audio only, 5 s of AAC in MP4 (M4A-like) and MP3.
make_once audio_only.m4a -f lavfi -i "$tone:duration=5" -c:a aac -b:a 128k -ac 2
make_once audio_only.mp3 -f lavfi -i "$tone:duration=5" -c:a libmp3lame -b:a 128k
# Two video streams: 320x240 first and marked default (so selected), 160x120 second.
make_once two_video.mkv -f lavfi -i "$pic:duration=3" -f lavfi -i "testsrc=size=160x120:rate=25:duration=3" \
  -f lavfi -i "$tone:duration=3" -map 0:v -map 1:v -map 2:a -c:v libx264 -preset veryfast -c:a aac -shortest
# Cover art after the main video (an attached picture exposed as a video stream).
[ -s cover.png ] || ff -f lavfi -i "color=c=red:size=64x64" -frames:v 1 cover.png
make_once cover_art.mp4 -i h264_aac.mp4 -i cover.png -map 0:v -map 0:a -map 1 -c copy -c:v:1 png \
  -disposition:v:1 attached_pic
# A video with a container start time of 10 s.
make_once start10.ts -f lavfi -i "$pic:duration=4" -c:v mpeg2video -q:v 5 -g 25 -output_ts_offset 10
# A MOV whose streams start 10 s into the container (an empty lead).
make_once start10.mov -f lavfi -i "$pic:duration=4" -f lavfi -i "$tone:duration=4" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -ac 2 -output_ts_offset 10 -shortest
# 8 fps video, 3 s.
make_once fps8.mp4 -f lavfi -i "testsrc2=size=320x240:rate=8:duration=3" -c:v libx264 -preset veryfast
# 640x480 H.264 for "different kind" joins.
make_once h264_640.mp4 -f lavfi -i "testsrc2=size=640x480:rate=25:duration=3" \
  -f lavfi -i "$tone:duration=3" -c:v libx264 -preset veryfast -c:a aac -shortest

# Mono 48 kHz sound under 640x360 pictures at 30 fps, for mixed joins.
make_once mono48k.mkv -f lavfi -i "testsrc2=size=640x360:rate=30:duration=3" \
  -f lavfi -i "sine=frequency=330:sample_rate=48000:duration=3" \
  -c:v libx264 -preset veryfast -c:a aac -ac 1 -ar 48000 -shortest

# 30 s of the same kind as h264_aac.mp4: a job that runs for several polls.
make_once long_h264_aac.mp4 -f lavfi -i "$pic:duration=30" -f lavfi -i "sine=frequency=550:sample_rate=44100:duration=30" \
  -c:v libx264 -preset veryfast -bf 2 -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -ac 2 -shortest

# ---- Re-encoding of real-world streams: sound that changes format, long
# GOPs, non-square pixels, turned phone clips, sound that stops early.
tone500="sine=frequency=500"
# Transport streams joined byte for byte, timestamps running on: a 500 Hz
# tone whose AAC goes 48 kHz stereo -> 32 kHz mono -> 44.1 kHz stereo while
# the picture grows from 320x240 to 640x360, and AC-3 going 5.1 -> stereo.
if [ ! -s sound_changes.ts ]; then
  ff -f lavfi -i "$pic:duration=2" -f lavfi -i "$tone500:sample_rate=48000:duration=2" \
    -c:v mpeg2video -q:v 5 -g 25 -c:a aac -ac 2 -ar 48000 part1.tmp.ts
  ff -f lavfi -i "$pic:duration=2" -f lavfi -i "$tone500:sample_rate=32000:duration=2" \
    -c:v mpeg2video -q:v 5 -g 25 -c:a aac -ac 1 -ar 32000 -output_ts_offset 2 part2.tmp.ts
  ff -f lavfi -i "testsrc2=size=640x360:rate=25:duration=2" -f lavfi -i "$tone500:sample_rate=44100:duration=2" \
    -c:v mpeg2video -q:v 5 -g 25 -c:a aac -ac 2 -ar 44100 -output_ts_offset 4 part3.tmp.ts
  cat part1.tmp.ts part2.tmp.ts part3.tmp.ts > sound_changes.ts.tmp && mv sound_changes.ts.tmp sound_changes.ts
  rm -f part?.tmp.ts
fi
if [ ! -s ac3_51_to_stereo.ts ]; then
  ff -f lavfi -i "$pic:duration=3" -f lavfi -i "$tone500:sample_rate=48000:duration=3" \
    -c:v mpeg2video -q:v 5 -g 25 -c:a ac3 -ac 6 part1.tmp.ts
  ff -f lavfi -i "$pic:duration=3" -f lavfi -i "$tone500:sample_rate=48000:duration=3" \
    -c:v mpeg2video -q:v 5 -g 25 -c:a ac3 -ac 2 -output_ts_offset 3 part2.tmp.ts
  cat part1.tmp.ts part2.tmp.ts > ac3_51_to_stereo.ts.tmp && mv ac3_51_to_stereo.ts.tmp ac3_51_to_stereo.ts
  rm -f part?.tmp.ts
fi
# 1080p with key frames 10 s apart (at 0 and 10 s).
make_once gop10s_1080p.mp4 -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=12" \
  -f lavfi -i "$tone:duration=12" -c:v libx264 -preset ultrafast -bf 2 -g 250 -keyint_min 250 \
  -sc_threshold 0 -pix_fmt yuv420p -c:a aac -ac 2 -shortest
# Anamorphic PAL: 720x576 stored, 16:9 shown (pixel aspect 64:45).
make_once anamorphic_pal.mp4 -f lavfi -i "testsrc2=size=720x576:rate=25:duration=3" \
  -f lavfi -i "$tone:duration=3" -vf setsar=64/45 -c:v libx264 -preset veryfast -c:a aac -shortest
# A phone clip stored sideways: portrait.mp4 turned a quarter left, with a
# display matrix that turns it back a quarter right when played.
make_once portrait.mp4 -f lavfi -i "testsrc2=size=240x320:rate=25:duration=3" -c:v libx264 -preset veryfast
make_once sideways.mp4 -i portrait.mp4 -vf transpose=2 -c:v libx264 -preset veryfast
make_once rotated.mp4 -i sideways.mp4 -c copy -metadata:s:v:0 rotate=270
# Variable frame rate: 25 pictures a second, then one in four, and none in
# the last 0.8 s, under 4 s of sound.
make_once vfr.mp4 -f lavfi -i "$pic:duration=4" -f lavfi -i "$tone:duration=4" \
  -vf "select='lt(t\,3.2)*(lt(t\,1)+not(mod(n\,4)))'" -vsync vfr -c:v libx264 -preset veryfast -c:a aac -ac 2
# Sound that ends 598 s before the picture (one picture a second).
make_once early_sound_end.mp4 -f lavfi -i "testsrc2=size=160x120:rate=1:duration=600" \
  -f lavfi -i "$tone:duration=2" -c:v mpeg4 -q:v 5 -g 10 -c:a aac -ac 2

# Files as devices and tools make them, for what a direct copy must keep.
# A phone clip: portrait (rotation in the display matrix), 30 fps, 48 kHz AAC
# whose priming is hidden by an edit list and which runs a little past the
# picture, with a title, a recording time and a language.
make_once phone.mp4 -f lavfi -i "testsrc2=size=320x240:rate=30:duration=2" \
  -f lavfi -i "sine=frequency=500:sample_rate=48000:duration=2.07" \
  -c:v libx264 -preset veryfast -bf 2 -g 30 -pix_fmt yuv420p -c:a aac -b:a 96k -ac 2 \
  -metadata title="Harbour walk" -metadata creation_time=2024-05-01T10:00:00Z \
  -metadata:s:a language=deu -metadata:s:a title="Stereo mic"
# This ffmpeg writes no rotation of its own: a phone's portrait matrix
# (0 1 / -1 0) goes into the picture track's header, 40 bytes past 'tkhd'.
if [ ! -s phone_portrait.mp4 ]; then
  cp phone.mp4 phone_portrait.tmp.mp4
  at=$(grep -obUa tkhd phone_portrait.tmp.mp4 | head -1 | cut -d: -f1)
  printf '\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\xff\xff\x00\x00\x00\x00\x00\x00' \
    | dd of=phone_portrait.tmp.mp4 bs=1 seek=$(( at + 4 + 40 )) conv=notrunc status=none
  mv phone_portrait.tmp.mp4 phone_portrait.mp4
fi
# An edit list hiding the first 1.3 s of a 6 s clip (a copy cut off mid-group).
make_once editlist_src.mp4 -f lavfi -i "$pic:duration=6" -f lavfi -i "$tone:duration=6" \
  -c:v libx264 -preset veryfast -bf 2 -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p \
  -c:a aac -b:a 96k -ac 2 -shortest
[ -s editlist.mp4 ] || { ff -ss 1.3 -i editlist_src.mp4 -c copy editlist.tmp.mp4 && mv editlist.tmp.mp4 editlist.mp4; }
# Anamorphic PAL: 720x576 stored, 16:9 shown.
make_once anamorphic.mp4 -f lavfi -i "testsrc2=size=720x576:rate=25:duration=1" -vf setsar=64/45 \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p
# HEVC tagged for Apple players, MPEG-4 part 2 tagged XVID.
make_once hevc_hvc1.mp4 -f lavfi -i "$pic:duration=1" -c:v libx265 -preset ultrafast -x265-params log-level=error \
  -tag:v hvc1 -pix_fmt yuv420p
make_once xvid.avi -f lavfi -i "$pic:duration=2" -f lavfi -i "$tone:duration=2" -c:v mpeg4 -vtag XVID -q:v 5 \
  -c:a libmp3lame -b:a 128k
# Matroska H.264 with B-frames: its first packets carry no decoding time.
make_once bframes.mkv -f lavfi -i "$pic:duration=4" -f lavfi -i "$tone:duration=4" \
  -c:v libx264 -preset veryfast -bf 3 -g 50 -pix_fmt yuv420p -c:a aac -b:a 96k -shortest
# A camcorder's MPEG-2 program stream with MP2 sound, named .MOD.
[ -s camcorder.MOD ] || { ff -f lavfi -i "$pic:duration=4" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" \
  -c:v mpeg2video -q:v 5 -g 12 -c:a mp2 -b:a 192k -f vob camcorder.tmp.MOD && mv camcorder.tmp.MOD camcorder.MOD; }
# A program stream with B-frames and small pictures, several to a pack:
# those behind the first come without their times.
make_once bframes.mpg -f lavfi -i "testsrc2=size=96x64:rate=25:duration=3" -f lavfi -i "$tone:duration=3" -c:v mpeg2video -q:v 5 -g 12 -bf 2 \
  -c:a mp2 -b:a 128k
# A short transport stream with a 2 s group of pictures.
make_once gop2s.ts -f lavfi -i "$pic:duration=4" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" \
  -c:v mpeg2video -q:v 5 -g 50 -bf 0 -c:a mp2 -b:a 192k -shortest

# Beeps on whole seconds, for where a copy's sound starts: WMV whose key
# pictures fall between the entries of its index (one a second), and MP3 in
# AVI, whose packets borrow bits from the ones before them.
beeps="aevalsrc='if(lt(mod(t\\,1)\\,0.06)\\,0.5*sin(2*PI*1000*t)\\,0)':s=48000:d=6"
make_once keys_between_index.wmv -f lavfi -i "$pic:duration=6" -f lavfi -i "$beeps" \
  -c:v wmv2 -q:v 5 -g 1000 -force_key_frames 0,1.3,2.3,2.6,3.6,4.6 -c:a wmav2 -b:a 96k
make_once beeps_mp3.avi -f lavfi -i "$pic:duration=6" -f lavfi -i "$beeps" \
  -c:v mpeg4 -q:v 5 -g 25 -bf 0 -c:a libmp3lame -b:a 96k
make_once beeps_mpeg4_b.avi -f lavfi -i "$pic:duration=6" -f lavfi -i "$beeps" \
  -c:v mpeg4 -q:v 5 -g 25 -bf 2 -c:a libmp3lame -b:a 96k
# Noise, so that frames lean on the reservoir: MPEG-1 mono at a low rate
# (small frames, a reach of several frames) and MPEG-2 stereo.
make_once reservoir_mono.mp3 -f lavfi -i "anoisesrc=d=2:c=pink:a=0.3:r=48000:seed=1" -c:a libmp3lame -b:a 32k
make_once reservoir_lsf.mp3 -f lavfi -i "anoisesrc=d=2:c=pink:a=0.3:r=24000:seed=2" -ac 2 -c:a libmp3lame -b:a 48k

# Bad files.
: > empty.mp4
# Random bytes can happen to look like a text format (a first "[" reads as
# lyrics): drawn again until no demuxer takes them.
while [ ! -s random.mp4 ] || ffprobe -v quiet random.mp4; do head -c 200000 /dev/urandom > random.mp4; done
[ -s text.mp4 ] || printf 'This is a text file, not a movie.\n%.0s' {1..50} > text.mp4
# Moov at the end, cut short: the index never arrives.
[ -s truncated_moov_end.mp4 ] || head -c $(( $(stat -c %s h264_aac.mp4) / 2 )) h264_aac.mp4 > truncated_moov_end.mp4
# Faststart (moov first) cut short: the index promises samples that are missing.
make_once faststart.mp4 -i h264_aac.mp4 -c copy -movflags +faststart
[ -s truncated_faststart.mp4 ] || head -c $(( $(stat -c %s faststart.mp4) / 2 )) faststart.mp4 > truncated_faststart.mp4
# Noise bytes over the middle of a file: damaged packets between good ones,
# the same bytes on every machine (30000 seeded samples of one byte).
if [ ! -s corrupt_middle.avi ]; then
  cp mpeg4_mp3.avi corrupt_middle.avi.tmp
  size=$(stat -c %s corrupt_middle.avi.tmp)
  ff -f lavfi -i "anoisesrc=c=white:a=1:r=48000:seed=5" -t 0.625 -f u8 - | dd of=corrupt_middle.avi.tmp bs=1 seek=$(( size * 2 / 5 )) conv=notrunc status=none
  mv corrupt_middle.avi.tmp corrupt_middle.avi
fi
# A WMV with three picture streams written to a pipe: its header cannot say how long it is.
if [ ! -s unknown_length.wmv ]; then
  ff -f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i testsrc2=size=160x120:rate=25:duration=3 \
    -f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i sine=d=3 -map 0 -map 1 -map 2 -map 3 \
    -c:v wmv2 -c:a wmav2 -f asf - > unknown_length.wmv.tmp && mv unknown_length.wmv.tmp unknown_length.wmv || true
fi
echo "fixtures ready in $PWD"
