#!/usr/bin/env bash
# Fuzzes one target of a LOADER_FUZZ build for a while, or replays its seed corpus.
# Usage: fuzz/run.sh BUILD_DIR NAME [SECONDS]
#   NAME     hex_to_bin or ini_text (the target is BUILD_DIR/fuzz/NAME_fuzzer, its seeds
#            fuzz/corpus/NAME)
#   SECONDS  how long to fuzz (default 60); 0 runs each seed once and stops.
# Exits non-zero on a crash, a sanitizer report (leaks included), an input that runs longer
# than TIMEOUT seconds (default 10) or one that takes more than RSS_MB MiB (default 1024).
# The corpus grows in a temporary folder that is removed afterwards; the input that failed
# is kept in BUILD_DIR/fuzz/artifacts.
set -euo pipefail

[ $# -ge 2 ] || {
  sed -n '3,6s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
build=$(cd "$1" && pwd)
name=$2
seconds=${3:-60}
seeds=$(cd "$(dirname "$0")" && pwd)/corpus/$name
fuzzer=$build/fuzz/${name}_fuzzer
[ -d "$seeds" ] || { echo "fuzz: no seed corpus $seeds" >&2; exit 2; }
[ -x "$fuzzer" ] || { echo "fuzz: $fuzzer is not built (configure with -DLOADER_FUZZ=ON)" >&2; exit 2; }

artifacts=$build/fuzz/artifacts/$name
mkdir -p "$artifacts"
# Every path absolute: a target may change its current directory.
limits=(-rss_limit_mb="${RSS_MB:-1024}" -timeout="${TIMEOUT:-10}" -artifact_prefix="$artifacts/")

if [ "$seconds" -eq 0 ]; then
  exec "$fuzzer" "${limits[@]}" -runs=0 "$seeds"
fi

corpus=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-$name.XXXXXX")
trap 'rm -rf "$corpus"' EXIT
# New inputs go to the first folder only, so the seeds stay as committed.
"$fuzzer" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "$seeds"
