#!/bin/bash
# What Orca says in a short keyboard session with the staged program, on a
# private X display and session bus (see orca_transcript.py). Needs orca,
# xdotool, at-spi2-core and python3-pyatspi; not part of the tests.
# Usage: tools/orca_transcript.sh [STAGE_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
stage=${1:-$root/build/stage}
for tool in orca xdotool xvfb-run dbus-run-session; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed" >&2; exit 2; }
done
exec xvfb-run -a -n $((300 + $$ % 600)) -s "-screen 0 1280x1024x24" dbus-run-session -- \
  /usr/bin/python3 "$root/tools/orca_transcript.py" "$stage" "$root/tests/data/a11y"
