#!/usr/bin/env bash
# Installs the built program into a scratch DESTDIR and uses it as a new
# user would: validates what the desktop reads (desktop entry, AppStream
# metainfo), starts the installed binary under xvfb-run from an empty folder
# with HOME and XDG_* in a scratch session, starts it a second time, closes
# it with SIGTERM, and checks where files were written.
#   install_test.sh BUILD_DIR APP_ID
set -uo pipefail
build=$1
id=$2

source "$(dirname "$0")/checks.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-install.XXXXXX")
quillet_pid=
cleanup() {
  [ -n "$quillet_pid" ] && kill -KILL "$quillet_pid" 2>/dev/null
  [ -n "${runner_pid:-}" ] && kill -KILL "$runner_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# --- Install ---------------------------------------------------------------
root=$scratch/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 \
  || { cat "$scratch/install.log"; echo "FAIL: cmake --install"; exit 1; }
usr=$root/usr

for file in bin/quillet libexec/quillet/quillet-pane share/quillet/config.xml share/quillet/rss.xsl share/quillet/help/Quillet.html \
            share/quillet/languages/0409/language.xml share/quillet/languages/0409/struct.xml \
            share/quillet/languages/0407/language.xml \
            share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
            share/icons/hicolor/scalable/apps/$id.svg share/man/man1/quillet.1.gz share/doc/quillet/copyright; do
  check "installed $file" test -f "$usr/$file"
done
check "the program is executable" test -x "$usr/bin/quillet"
check "the reading pane's helper is executable" test -x "$usr/libexec/quillet/quillet-pane"
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  check "icon ${size}x${size}" grep -q "${size} x ${size}" <(file "$png")
done
# Only the program, its helper and its data: no test runners, no headers,
# no libraries.
unexpected=$(cd "$usr" && find . -type f | grep -Ev '^\./(bin/quillet|libexec/quillet/quillet-pane|share/(quillet|applications|metainfo|icons|doc/quillet)/|share/man/man1/quillet\.1\.gz$|share/lintian/overrides/quillet$)')
check "nothing but the program and its data is installed" test -z "$unexpected"
[ -n "$unexpected" ] && echo "$unexpected"

# --- What the desktop reads ------------------------------------------------
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$usr/share/applications/$id.desktop"
else
  echo "skipped: desktop-file-validate is not installed"
fi
if command -v appstreamcli >/dev/null; then
  check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml"
elif command -v appstream-util >/dev/null; then
  check "appstream-util accepts the metainfo" appstream-util validate-relax --nonet "$usr/share/metainfo/$id.metainfo.xml"
else
  echo "skipped: no AppStream validator is installed"
fi
check "the desktop entry starts the program by name, with the addresses" \
  grep -qx 'Exec=quillet %U' "$usr/share/applications/$id.desktop"
for type in x-scheme-handler/feed application/rss+xml application/atom+xml application/feed+json text/x-opml; do
  check "the desktop entry takes $type" grep -q "^MimeType=.*$type;" "$usr/share/applications/$id.desktop"
done
if command -v man >/dev/null; then
  check "the manual page renders without warnings" \
    sh -c "MANWIDTH=80 man --warnings -l '$usr/share/man/man1/quillet.1.gz' 2>&1 >/dev/null | grep -q . && exit 1 || exit 0"
fi
check "the metainfo names the desktop entry" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
  "$usr/share/metainfo/$id.metainfo.xml"

# --- First start as a new user ---------------------------------------------
if ! command -v xvfb-run >/dev/null; then
  echo "skipped: xvfb-run is not installed, the installed program was not started"
  exit $((failures > 0))
fi
session=$scratch/session
start=$scratch/start
mkdir -p "$session/home" "$session/runtime" "$start"
chmod 700 "$session/runtime"
# The installed data is read-only, as under /usr.
chmod -R a-w "$usr/share/quillet"
export HOME=$session/home
export XDG_DATA_HOME=$session/data XDG_CONFIG_HOME=$session/config XDG_CACHE_HOME=$session/cache
export XDG_STATE_HOME=$session/state XDG_RUNTIME_DIR=$session/runtime
# No shared data where the system keeps it: the program must find its own
# through ../share/quillet.
export XDG_DATA_DIRS=$session/nowhere
unset DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
home=$XDG_DATA_HOME/quillet

cd "$start"
xvfb-run -a sh -c 'echo $$ > "$0"; exec "$1"' "$scratch/quillet.pid" "$usr/bin/quillet" \
  >"$scratch/first.log" 2>&1 &
runner_pid=$!
wait_for() {  # seconds, command...
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}
listening() { [ -n "$(find "$XDG_RUNTIME_DIR" -name 'quillet-*.sock' -type s 2>/dev/null)" ]; }
check "the per-user home is made with config.xml and languages" \
  wait_for 60 test -f "$home/config.xml" -a -f "$home/languages/0409/language.xml"
check "the running program listens for a second start" wait_for 60 listening
quillet_pid=$(cat "$scratch/quillet.pid" 2>/dev/null)

# --- A second start hands over and leaves ----------------------------------
QT_QPA_PLATFORM=offscreen timeout 30 "$usr/bin/quillet" >"$scratch/second.log" 2>&1
second_status=$?
check "a second start exits with status 0 (was $second_status)" test "$second_status" -eq 0
check "the first instance still runs" kill -0 "$quillet_pid"
check "the running instance answered the second start" test -z "$(grep 'did not answer' "$scratch/second.log")"
check "the second start made no window of its own" test -z "$(grep -i 'cannot start' "$scratch/second.log")"

# --- The installed helper runs on its own libraries -------------------------
# It announces its window on standard output and ends when its input does.
(sleep 3) | xvfb-run -a "$usr/libexec/quillet/quillet-pane" >"$scratch/pane.out" 2>"$scratch/pane.log"
pane_status=$?
check "the reading pane's helper announced its window" grep -q '"op":"window"' "$scratch/pane.out"
check "the reading pane's helper ended with its input (status $pane_status)" test "$pane_status" -eq 0

# --- A clean close ---------------------------------------------------------
kill -TERM "$quillet_pid"
if wait_for 30 sh -c "! kill -0 $runner_pid 2>/dev/null"; then
  wait "$runner_pid"
  check "the program ended cleanly on SIGTERM" test $? -eq 0
else
  fail "the program did not end within 30 s of SIGTERM"
fi
quillet_pid=
check "config.xml is in the per-user home after the close" grep -q '<mainform>' "$home/config.xml"
check "the option of starting with the session is there, off" grep -q '<StartOnLogin>False</StartOnLogin>' "$home/config.xml"
check "no lock is left behind" test ! -e "$home/.quillet.lock"
check "no socket is left behind" test -z "$(ls -A "$XDG_RUNTIME_DIR")"
check "no autostart entry was made" test ! -e "$XDG_CONFIG_HOME/autostart/$id.desktop"
check "nothing was written in the starting folder" test -z "$(ls -A "$start")"
check "the installed data is unchanged" test -z "$(find "$usr/share/quillet" -newer "$scratch/install.log" 2>/dev/null)"

# Outside the home only caches may appear: the graphics stack keeps its
# shader caches in XDG_CACHE_HOME, shared by every program of the session.
# Settings, data or state elsewhere would be ours, and are not allowed.
others=$(cd "$session" && find . -type f ! -path './data/quillet/*' ! -path './cache/*' | head -20)
check "nothing but caches was written outside the home" test -z "$others"
[ -n "$others" ] && echo "$others"

if [ "$failures" -gt 0 ]; then
  echo "--- first start's output"; cat "$scratch/first.log"
  echo "--- second start's output"; cat "$scratch/second.log"
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
