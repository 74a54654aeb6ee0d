#!/bin/bash
# Runs screen_reader_walk.py with a private X display and session bus, on
# which the script starts the accessibility bus. Skips (77), saying why,
# where a part is missing.
# Usage: screen_reader_walk.sh STAGE_DIR FIXTURE_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
stage=$1
data=$2
skip() {
  echo "SKIP: $*"
  exit 77
}
[ -x "$stage/quillet" ] || skip "no staged program at $stage"
for tool in xvfb-run dbus-run-session dbus-send; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi2-core is not installed"
# The distribution's Python has the bindings; another one first on PATH may not.
python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c "import pyatspi" >/dev/null 2>&1; then
    python=$candidate
    break
  fi
done
[ -n "$python" ] || skip "python3-pyatspi is not installed"
# xvfb-run -a starts at display 99 and races other tests doing the same:
# this one starts its search elsewhere.
exec xvfb-run -a -n $((200 + $$ % 700)) -s "-screen 0 1280x1024x24" dbus-run-session -- "$python" "$here/screen_reader_walk.py" "$stage" "$data"
