# SPDX-License-Identifier: GPL-3.0-or-later
# What the fixture scripts share, sourced with their own arguments: the
# folder to make the files in ($1, default ./fixtures, entered here), and
# ffmpeg run once per file. A script sets ff_loglevel before sourcing to hear
# less of ffmpeg.
set -euo pipefail
out=${1:-fixtures}
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -hide_banner -loglevel "${ff_loglevel:-error}" -nostdin -y "$@"; }

# make_once NAME ARGS...: ffmpeg ARGS into NAME unless it is there. A
# temporary name (same extension, so the same container) keeps an interrupted
# run from leaving half a file; a failure leaves NAME missing, for the tests
# that need it to say so.
make_once() {
  local name=$1; shift
  local tmp="$name.tmp.${name##*.}"
  [ -s "$name" ] && return 0
  { ff "$@" "$tmp" && mv "$tmp" "$name"; } || true
}
