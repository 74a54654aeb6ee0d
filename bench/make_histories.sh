#!/bin/sh
# Rebuilds bench/data/posting_histories.tsv from the real histories on a
# Debian 12 machine (see bench/data/README). Usage:
#   bench/make_histories.sh BUILD_DIR
set -eu
build=${1:?build directory with bench/extract_histories}
tool=$build/bench/extract_histories
here=$(dirname "$0")
corpus=/usr/lib/google-cloud-sdk/platform/gsutil/third_party/chardet/tests
out=$here/data/posting_histories.tsv
{
    echo "# label<TAB>kind<TAB>unix seconds, ascending; see README"
    # The corpus keeps some feeds in several encodings: one copy each.
    "$tool" feed "$corpus"/*/*.xml 2>/dev/null | awk -F'\t' '!seen[$3]++'
    # Every twelfth package with a changelog, for a spread of release rhythms.
    "$tool" changelog $(ls /usr/share/doc/*/changelog.Debian.gz | awk 'NR % 12 == 1')
} > "$out"
grep -vc '^#' "$out"
