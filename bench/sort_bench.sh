#!/bin/sh
# Times the sort of a realistic 1,245,184-record input (19 full chunks) and
# reports the peak memory. Not part of the test suite.
#
# usage: bench/sort_bench.sh [TARNSEK_BINARY] [KEYS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/release/tarnsek}
keys=${2:-3,I:4,N,D:5,D:2}
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnsek-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

echo "generating 1,245,184 records..."
python3 "$here/generate.py" "$work/in.csv"
ls -l "$work/in.csv"

echo "sorting with /K $keys ..."
status=0
/usr/bin/time -f "elapsed %e s, user %U s, system %S s, peak memory %M KiB" \
  "$bin" /I "$work/in.csv" /O "$work/out.csv" /K "$keys" /W "$work" >"$work/log.txt" || status=$?
tail -n 3 "$work/log.txt" | iconv -f CP932 -t UTF-8 || true
echo "exit status $status"
