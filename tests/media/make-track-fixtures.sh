#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Media for the tests of keeping every track, made once into the folder given:
# files with several sound tracks, subtitles, chapters, attachments and data
# tracks, the way rips, recorders and cameras make them. Key pictures 2 s apart.
source "$(dirname "${BASH_SOURCE[0]}")/fixture-common.sh" "$@"

pic="testsrc=size=320x240:rate=25:duration=20"
gop="-g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p"

cat > tracks.srt <<'SRT'
1
00:00:01,000 --> 00:00:03,500
Hello

2
00:00:09,000 --> 00:00:12,000
Across the cut

3
00:00:15,000 --> 00:00:16,000
Later
SRT
cat > tracks.ass <<'ASS'
[Script Info]
ScriptType: v4.00+
PlayResX: 320
PlayResY: 240

[V4+ Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding
Style: Default,Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,1

[Events]
Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
Dialogue: 0,0:00:02.00,0:00:04.00,Default,,0,0,0,,Erste
Dialogue: 0,0:00:09.50,0:00:11.00,Default,,0,0,0,,Zweite
ASS
cat > tracks.chapters <<'CHAPTERS'
;FFMETADATA1
[CHAPTER]
TIMEBASE=1/1000
START=0
END=10000
title=One
[CHAPTER]
TIMEBASE=1/1000
START=10000
END=20000
title=Two
CHAPTERS
# Stands in for a font: Matroska stores attachments as they are.
printf 'not really a font' > tracks.ttf

# A film ripped to Matroska: AC-3 English (default) and AAC German sound,
# SubRip and forced ASS subtitles, chapters every 10 s, a font attachment.
make_once tracks.mkv -f lavfi -i "$pic" -f lavfi -i "sine=f=440:d=20" -f lavfi -i "sine=f=880:d=20" \
  -i tracks.srt -i tracks.ass -i tracks.chapters \
  -map 0:v -map 1:a -map 2:a -map 3 -map 4 -map_chapters 5 \
  -c:v libx264 -preset ultrafast $gop -c:a:0 ac3 -c:a:1 aac -c:s:0 srt -c:s:1 ass \
  -metadata:s:a:0 language=eng -metadata:s:a:0 title=English -metadata:s:a:1 language=deu \
  -metadata:s:a:1 title=Deutsch -metadata:s:s:0 language=eng -metadata:s:s:1 language=deu \
  -disposition:a:0 default -disposition:a:1 0 -disposition:s:0 0 -disposition:s:1 forced \
  -attach tracks.ttf -metadata:s:t mimetype=application/x-truetype-font
# The same file without its second subtitle track.
make_once tracks_fewer.mkv -i tracks.mkv -map 0 -map -0:s:1 -c copy
# A phone-style MP4: two AAC tracks, a mov_text track and chapters.
make_once tracks.mp4 -f lavfi -i "$pic" -f lavfi -i "sine=f=440:d=20" -f lavfi -i "sine=f=880:d=20" \
  -i tracks.srt -i tracks.chapters -map 0:v -map 1:a -map 2:a -map 3 -map_chapters 4 \
  -c:v libx264 -preset ultrafast $gop -c:a aac -c:s mov_text \
  -metadata:s:a:0 language=eng -metadata:s:a:1 language=deu -metadata:s:a:1 title=Kommentar \
  -metadata:s:s:0 language=eng
# A broadcast-style transport stream with two sound tracks.
make_once tracks.ts -f lavfi -i "testsrc=size=320x240:rate=25:duration=10" -f lavfi -i "sine=d=10" \
  -f lavfi -i "sine=f=880:d=10" -map 0 -map 1 -map 2 -c:v mpeg2video -g 50 -c:a mp2 \
  -metadata:s:a:0 language=eng -metadata:s:a:1 language=deu
# A camera clip with a timecode track, which MP4 cannot take as a copy.
make_once timecode.mp4 -f lavfi -i "testsrc=size=320x240:rate=25:duration=6" -f lavfi -i "sine=d=6" \
  -c:v libx264 -preset ultrafast $gop -c:a aac -timecode 01:00:00:00
# Default English stereo, then a French mono commentary.
make_once commentary.mp4 -f lavfi -i "testsrc=size=320x240:rate=25:duration=4" \
  -f lavfi -i "sine=f=440:d=4:sample_rate=48000" -f lavfi -i "sine=f=880:d=4:sample_rate=44100" \
  -map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ac:a:0 2 -ac:a:1 1 \
  -metadata:s:a:0 language=eng -metadata:s:a:1 language=fra -disposition:a:0 default -disposition:a:1 0
# Two sound tracks, neither marked default: the last one is the main sound.
make_once no_default.mkv -f lavfi -i "testsrc=size=320x240:rate=25:duration=4" \
  -f lavfi -i "sine=f=440:d=4:sample_rate=48000" -f lavfi -i "sine=f=880:d=4:sample_rate=44100" \
  -map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ac:a:0 2 -ac:a:1 1 \
  -disposition:a:0 0 -disposition:a:1 0
# A Matroska file with a PNG cover picture attached.
make_once cover.png -f lavfi -i "testsrc=size=64x64:rate=1:duration=1" -frames:v 1
make_once cover.mkv -f lavfi -i "testsrc=size=320x240:rate=25:duration=6" -f lavfi -i "sine=d=6" \
  -c:v libx264 -preset ultrafast $gop -c:a aac -attach cover.png -metadata:s:t mimetype=image/png
# A camera-style MP4 whose first extra sound track (PCM) and timecode track a
# copy to MP4 leaves out, with a kept AAC track after them.
make_once left_out_first.mp4 -f lavfi -i "testsrc=size=320x240:rate=25:duration=4" -f lavfi -i "sine=d=4" \
  -f lavfi -i "sine=f=660:d=4" -f lavfi -i "sine=f=880:d=4" -map 0 -map 1 -map 2 -map 3 \
  -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a:0 aac -c:a:1 pcm_s16le -c:a:2 aac \
  -disposition:a:0 default -disposition:a:1 0 -disposition:a:2 0 -timecode 01:00:00:00 -brand isom -f mov
