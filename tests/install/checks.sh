# The checks of the install scripts: each prints "ok: …" or "FAIL: …";
# the script ends with how many failed. Sourced, not executed.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }
