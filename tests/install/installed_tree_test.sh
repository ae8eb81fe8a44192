#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a private prefix and checks the installed tree: the
# programs run from there with a private home folder, read their shipped files
# from share/morvane, and keep the user's choices in the per-user setting.ini.
#
#   installed_tree_test.sh BUILD_DIR WINDOW_DRIVER_LIBRARY
set -uo pipefail
build=$1 driver=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: install"; exit 1; }

# The tree: programs, shipped files, menu entry, icons, description, manual.
app=org.morvane.Morvane
for f in bin/morvane bin/morvane-cli share/morvane/setting.ini share/man/man1/morvane-cli.1.gz \
         share/man/man1/morvane.1.gz share/doc/morvane/copyright share/doc/morvane/changelog.gz \
         share/applications/$app.desktop share/metainfo/$app.metainfo.xml; do
  [ -s "$prefix/$f" ] || fail "missing $f"
done
for lang in english spanish german french italian japanese; do
  ini=$prefix/share/morvane/languages/$lang.ini
  [ -s "$ini" ] || { fail "missing language $lang"; continue; }
  # A help address without a scheme names a page shipped with the program.
  url=$(sed -n 's/^url=//p' "$ini" | head -1 | tr -d '\r')
  [[ -z $url || $url == *:* || -s $prefix/share/morvane/$url ]] || fail "$lang help page $url not installed"
done
for size in 16 22 24 32 48 64 128 256 512; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$app.png
  # PNG width and height are the big-endian words at bytes 16 and 20.
  read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$icon" 2>/dev/null)
  [ "${w:-0}x${h:-0}" = "${size}x${size}" ] || fail "icon $size is ${w:-0}x${h:-0}"
done
svg=$prefix/share/icons/hicolor/scalable/apps/$app.svg
grep -q '<svg' "$svg" 2>/dev/null || fail "no scalable icon"
[ -z "$(ls "$prefix/bin" | grep -v '^morvane\(-cli\)\?$')" ] || fail "bin holds more than the programs"

out=$(desktop-file-validate "$prefix/share/applications/$app.desktop" 2>&1) && [ -z "$out" ] ||
  fail "desktop entry: $out"
grep -q '^Categories=AudioVideo;Video;AudioVideoEditing;$' "$prefix/share/applications/$app.desktop" ||
  fail "desktop entry categories"
for lang in es de fr it ja; do
  for key in Name GenericName Comment; do
    grep -q "^$key\[$lang\]=" "$prefix/share/applications/$app.desktop" || fail "no $key[$lang]"
  done
done
appstreamcli validate --no-net "$prefix/share/metainfo/$app.metainfo.xml" >"$work/appstream" 2>&1 ||
  fail "metainfo: $(cat "$work/appstream")"
for page in morvane morvane-cli; do
  out=$(zcat "$prefix/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1) && [ -z "$out" ] ||
    fail "manual page $page: $out"
done
# Every option the tool's help names is in its manual page, and so are the
# lines and fields it prints and the log.
manual=$(zcat "$prefix/share/man/man1/morvane-cli.1.gz")
options=$(for command in probe cut join preview; do "$prefix/bin/morvane-cli" $command --help; done |
          grep -oE '^ +(-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+' | sort -u)
[ "$(wc -l <<<"$options")" -ge 17 ] || fail "the commands' help names too few options: $options"
for option in $options --version -o; do
  grep -qF -- "${option//-/\\-}" <<<"$manual" || fail "manual lacks $option"
done
for said in 'progress input=' 'output=' 'dropped_tracks' '"progress"' 'holds' 'library.log' '[[hours:]minutes:]seconds'; do
  grep -qF -- "$said" <<<"$(zcat "$prefix/share/man/man1/morvane-cli.1.gz" | groff -man -Tutf8 -P-cbou -rHY=0 -rLL=1000n -ww 2>/dev/null)" ||
    fail "manual lacks $said"
done
# The window answers --help and --version without a display, and says why
# it cannot open without one.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/morvane" --version | grep -qx 'morvane [0-9.]*' ||
  fail "morvane --version"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/morvane" --help | grep -qF -- '--version' ||
  fail "morvane --help"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/morvane" 2>&1)
[ $? -eq 1 ] && grep -q 'no graphical session' <<<"$out" || fail "morvane without a display: $out"
"$prefix/bin/morvane" --frobnicate 2>/dev/null
[ $? -eq 2 ] || fail "morvane --frobnicate is not refused with status 2"

# A private user: nothing may be read from or written to the real home.
home=$work/home
mkdir -p "$home" "$work/run" && chmod 700 "$work/run"
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache XDG_DATA_HOME=$home/data
export XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=offscreen

# Asked for, the usage goes to standard output with success.
"$prefix/bin/morvane-cli" --help >"$work/help" 2>/dev/null || fail "morvane-cli --help exit $?"
grep -q 'morvane-cli cut FILE' "$work/help" || fail "morvane-cli usage: $(cat "$work/help")"
if command -v ffmpeg >/dev/null; then
  ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=10:duration=1 "$work/clip.mp4" &&
    "$prefix/bin/morvane-cli" probe "$work/clip.mp4" >"$work/probe" 2>&1 ||
    fail "morvane-cli probe: $(cat "$work/probe" 2>/dev/null)"
fi

# The window: start in the shipped language, pick German (entry 2), close.
value() { sed -n "s/^$2=//p" "$prefix/share/morvane/languages/$1.ini" | head -1; }
MORVANE_DRIVE_LANGUAGE=2 LD_PRELOAD=$driver timeout 120 "$prefix/bin/morvane" >"$work/window" 2>"$work/window.err" ||
  fail "window program exit $?: $(cat "$work/window.err")"
grep -qxF "entry 2: Deutsch" "$work/window" || fail "language list: $(cat "$work/window")"
grep -qxF "start label: $(value english yy)" "$work/window" || fail "English texts: $(cat "$work/window")"
grep -qxF "chosen label: $(value german yy)" "$work/window" || fail "German texts: $(cat "$work/window")"
settings=$XDG_CONFIG_HOME/morvane/setting.ini
grep -qx 'file=german.ini' "$settings" 2>/dev/null || fail "choice not in $settings"
grep -qx 'name6=日本語' "$settings" 2>/dev/null || fail "per-user setting.ini not seeded"
grep -qx 'file=english.ini' "$prefix/share/morvane/setting.ini" || fail "shipped setting.ini changed"
[ ! -e "$prefix/bin/setting.ini" ] || fail "setting.ini written beside the installed program"

# A second start reads the choice back.
MORVANE_DRIVE_LANGUAGE=0 LD_PRELOAD=$driver timeout 120 "$prefix/bin/morvane" >"$work/window2" 2>&1 ||
  fail "second start"
grep -qxF "start label: $(value german yy)" "$work/window2" || fail "choice not kept: $(cat "$work/window2")"

[ "$failures" -eq 0 ] && echo "installed tree: all checks passed"
exit $((failures > 0))
