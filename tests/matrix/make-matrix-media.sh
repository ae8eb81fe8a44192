#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sources for the matrix of checks, made once into the folder given. Every
# picture carries its own number in its pixels: a 4x4 grid of black and white
# cells, bits 0-9 the number, bits 10-15 a check of it, so a picture read from
# any decoded output names the source picture it is and a garbled one is
# known. Every sound track beeps for 60 ms at the start of each whole second.
# 176x144, 25 pictures a second, 6 s, a key picture every second.
ff_loglevel=error
source "$(dirname "${BASH_SOURCE[0]}")/../media/fixture-common.sh" "$@"
set -f  # the filter expressions below are words, not file patterns

cell="(X+4*Y)"
check="mod(N*37+trunc(N/64)*11+5\,64)"
bits="if(lt($cell\,10)\,mod(trunc(N/pow(2\,$cell))\,2)\,mod(trunc($check/pow(2\,$cell-10))\,2))"
numbered="color=c=black:s=4x4:r=25:d=6,format=gray,geq=lum='$bits*192+32',scale=176:144:flags=neighbor"
pic="-f lavfi -i $numbered,format=yuv420p"
beeps() {  # beeps RATE HZ: one sound input
  echo "-f lavfi -i aevalsrc='if(lt(mod(t\,1)\,0.06)\,0.5*sin(2*PI*$2*t)\,0)':s=$1:d=6"
}
beep="$(beeps 48000 1000)"
gop="-g 25 -keyint_min 25 -sc_threshold 0"
x264="-c:v libx264 -preset veryfast -pix_fmt yuv420p $gop"
x265="-c:v libx265 -preset ultrafast -x265-params keyint=25:min-keyint=25:scenecut=0:bframes=3:open-gop=1:log-level=error"

# H.264 High with B-frames and closed GOPs, in each container that takes it.
for c in mp4 mov mkv flv 3gp; do
  make_once "h264.$c" $pic $beep $x264 -bf 2 -c:a aac -b:a 96k
done
# Clocks that start above zero, through the exact cut's paths.
make_once h264_late.mkv $pic $beep $x264 -bf 2 -c:a aac -b:a 96k -output_ts_offset 1.4
make_once h264_late.ts $pic $beep $x264 -bf 2 -c:a aac -b:a 96k -output_ts_offset 1.4
make_once mpeg4_late.mkv $pic $beep -c:v mpeg4 -q:v 3 $gop -bf 0 -c:a aac -b:a 96k -output_ts_offset 2.2
# A clock that wraps (33 bits at 90 kHz) 0.6 s in, as a long recording's may.
make_once h264_wrap.ts $pic $beep $x264 -bf 2 -c:a aac -b:a 96k -output_ts_offset 95441.7
# Interlaced H.264 (MBAFF, top field first) in a transport stream, as HD
# television sends it.
make_once h264_tff.ts $pic $beep $x264 -bf 2 -flags +ildct+ilme -x264-params tff=1 -c:a mp2 -b:a 128k \
  -output_ts_offset 3.1
# H.264 with open GOPs and a B-pyramid: key pictures are recovery points
# whose leading pictures refer to the GOP before.
make_once h264_open.mp4 $pic $beep $x264 -bf 3 -x264-params open-gop=1:b-pyramid=normal -c:a aac -b:a 96k
make_once h264_open.mkv $pic $beep $x264 -bf 3 -x264-params open-gop=1:b-pyramid=normal -c:a aac -b:a 96k
# HEVC: CRA pictures with leading RASL pictures, 8 and 10 bits.
make_once hevc.mp4 $pic $beep $x265 -pix_fmt yuv420p -tag:v hvc1 -c:a aac -b:a 96k
make_once hevc10.mkv $pic $beep $x265 -pix_fmt yuv420p10le -c:a aac -b:a 96k -output_ts_offset 0.6
make_once hevc_late.mp4 $pic $beep $x265 -pix_fmt yuv420p -tag:v hvc1 -c:a aac -b:a 96k -output_ts_offset 1.4
# MPEG-2, interlaced, open GOPs, in a transport and a program stream.
mpeg2="-c:v mpeg2video -q:v 3 $gop -bf 2 -flags +ilme+ildct -top 1"
make_once mpeg2.ts $pic $beep $mpeg2 -c:a mp2 -b:a 128k
make_once mpeg2.mpg $pic $beep $mpeg2 -c:a mp2 -b:a 128k
# MPEG-4 Part 2 with and without B-frames.
make_once mpeg4_b.avi $pic $beep -c:v mpeg4 -q:v 3 $gop -bf 2 -c:a libmp3lame -b:a 96k
make_once mpeg4.avi $pic $beep -c:v mpeg4 -q:v 3 $gop -bf 0 -c:a libmp3lame -b:a 96k
make_once mpeg4.mp4 $pic $beep -c:v mpeg4 -q:v 3 $gop -bf 0 -c:a aac -b:a 96k
# With B-frames packed as Xvid writes them: a B-picture in the packet of the
# picture before it, a placeholder in its own place.
make_once mpeg4_packed.avi $pic $beep -c:v libxvid -q:v 3 $gop -bf 2 -c:a libmp3lame -b:a 96k
# VP9, H.263, and the old formats of the web and of Windows.
make_once vp9.mkv $pic $beep -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 300k $gop -c:a libvorbis
# AV1 as a recorder's encoder writes it: hidden pictures shown later, in
# Matroska with Opus and in MP4 with AAC.
make_once av1.mkv $pic $beep -c:v libsvtav1 -preset 10 $gop -c:a libopus -b:a 96k
make_once av1.mp4 $pic $beep -c:v libsvtav1 -preset 10 $gop -c:a aac -b:a 96k
make_once h263.3gp $pic $beep -c:v h263 -q:v 3 $gop -c:a aac -b:a 64k
make_once flv1.flv $pic $(beeps 44100 1000) -c:v flv -q:v 3 $gop -c:a libmp3lame -b:a 96k
make_once wmv2.wmv $pic $beep -c:v wmv2 -q:v 3 $gop -c:a wmav2 -b:a 96k

# Every kind of track in one Matroska file: two sound tracks (English
# default, German second, beeping at another pitch), SubRip and bitmap
# subtitles with a cue across 1.52 s and the key picture at 1 s, chapters
# every 2 s, an attachment.
cat > tracks.srt <<'SRT'
1
00:00:00,800 --> 00:00:02,200
Across the start

2
00:00:03,000 --> 00:00:03,500
Inside
SRT
printf ';FFMETADATA1\n' > tracks.chapters
for i in 0 1 2; do
  printf '[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Part %d\n' $((i * 2000)) $((i * 2000 + 2000)) $((i + 1))
done >> tracks.chapters
printf 'not really a font' > tracks.ttf
# The bitmap cues as a PGS stream: segments of "PG", times (90 kHz), type,
# size; each cue an 8x2 box, cleared by an empty composition.
pgs_segment() {  # PTS TYPE HEX-PAYLOAD (spaces for reading only)
  local data=${3// /}
  local hex="5047$(printf '%08x' "$1")00000000$2$(printf '%04x' $((${#data} / 2)))$data"
  printf "$(sed 's/../\\x&/g' <<< "$hex")"
}
box="01 00 0010 0070 0008 0002"  # window 0 at 16,112, 8x2
pgs_clear() {  # AT (90 kHz)
  pgs_segment "$1" 16 "00b0 0090 10 0002 00 00 00 00"
  pgs_segment "$1" 17 "$box"
  pgs_segment "$1" 80 ""
}
pgs_cue() {  # FROM TO (90 kHz)
  pgs_segment "$1" 16 "00b0 0090 10 0001 80 00 00 01 0000 00 00 0010 0070"
  pgs_segment "$1" 17 "$box"
  pgs_segment "$1" 14 "00 00 01 eb 80 80 ff"
  pgs_segment "$1" 15 "0000 00 c0 00000e 0008 0002 008801 0000 008801 0000"
  pgs_segment "$1" 80 ""
  pgs_clear "$2"
}
# An empty screen at 0 s keeps the cues' times as they are.
[ -s tracks.sup ] || { pgs_clear 0; pgs_cue 72000 198000; pgs_cue 270000 315000; } > tracks.sup
make_once tracks.mkv $pic $beep $(beeps 48000 2000) -i tracks.srt -i tracks.sup -i tracks.chapters \
  -map 0:v -map 1:a -map 2:a -map 3 -map 4 -map_chapters 5 $x264 -bf 2 -c:a aac -b:a 96k -c:s:0 srt -c:s:1 copy \
  -metadata:s:a:0 language=eng -metadata:s:a:1 language=deu -metadata:s:a:1 title=Kommentar \
  -metadata:s:s:0 language=eng -metadata:s:s:1 language=fra -disposition:a:0 default -disposition:a:1 0 \
  -disposition:s:0 0 -disposition:s:1 forced -attach tracks.ttf -metadata:s:t mimetype=application/x-truetype-font
# A television recording: interlaced H.264, AC-3 and MP2 sound in two
# languages, DVB subtitles (the first bitmap cue above, cleared at the end),
# its clock well above zero.
[ -s tv.sup ] || { pgs_clear 0; pgs_cue 72000 198000; } > tv.sup
make_once tv.ts $pic $beep $(beeps 48000 2000) -i tv.sup -map 0:v -map 1:a -map 2:a -map 3 $x264 -bf 2 \
  -flags +ildct+ilme -c:a:0 ac3 -b:a:0 192k -c:a:1 mp2 -b:a:1 128k -c:s dvbsub -metadata:s:a:0 language=eng \
  -metadata:s:a:1 language=deu -metadata:s:s:0 language=fra -output_ts_offset 7.3

# A broadcast recording with one transport packet lost: the last of picture
# 74's. The demuxer notices at the next picture and flags picture 73's packet
# corrupt; both decode whole. Every picture is a key picture, so leaving the
# flagged one out harms no other.
if [ ! -s corrupt.ts ]; then
  make_once intra.tmp.ts $pic $beep -c:v mpeg2video -q:v 3 -g 1 -bf 0 -c:a mp2 -b:a 128k
  lost=$(od -An -v -tx1 -w188 intra.tmp.ts | awk '$1 == "47" && $3 == "00" && $2 == "41" && ++n == 76 && !done { print last; done = 1 }
    $1 == "47" && $3 == "00" && $2 == "01" { last = NR - 1 }')
  { head -c $((lost * 188)) intra.tmp.ts; tail -c +$(((lost + 1) * 188 + 1)) intra.tmp.ts; } > corrupt.tmp.ts
  mv corrupt.tmp.ts corrupt.ts
  rm -f intra.tmp.ts
fi
