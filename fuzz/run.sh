#!/usr/bin/env bash
# Runs the fuzz targets one after the other, each for a bounded time.
#   fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
# BUILD_DIR is a build configured with -DTARNSEK_FUZZ=ON (the "fuzz" preset);
# SECONDS defaults to 20 per target; TARGETs default to all of them
# (record_reader sort_keys command_line key_values chunk_sort).
# New inputs go to BUILD_DIR/fuzz-corpus/TARGET, the committed seeds in
# fuzz/corpus/TARGET are only read; a failing input is saved as
# BUILD_DIR/fuzz-artifacts/TARGET-crash-... and the script exits non-zero.
# FUZZ_TIMEOUT (seconds, default 10) bounds one input; raise it on a busy machine.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]}" && pwd)"
seconds="${2:-20}"
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(record_reader sort_keys command_line key_values chunk_sort)

scratch="$(mktemp -d "${TMPDIR:-/tmp}/tarnsek-fuzz-run-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$target"
  [ -x "$binary" ] || { echo "missing $binary" >&2; exit 2; }
  mkdir -p "$build/fuzz-corpus/$target" "$build/fuzz-artifacts"
  echo "== $target: $seconds s"
  # TMPDIR: the targets make their scratch files there; removed afterwards.
  if ! TMPDIR="$scratch" "$binary" -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
      "$build/fuzz-corpus/$target" "$here/corpus/$target"; then
    echo "== $target: FAILED (input saved under $build/fuzz-artifacts)" >&2
    status=1
  fi
done
exit $status
