#!/usr/bin/env bash
# Runs a built fuzz target for a while, starting from its seeds.
#   fuzz/run.sh BINARY SECONDS [SEED_DIR]
# SEED_DIR defaults to <build>/fuzz/seeds/<target> for a binary in <build>/bin.
# New inputs go to a scratch corpus, so the seeds stay as built; crash inputs
# go to $FUZZ_ARTIFACTS (default: the current directory). Builds nothing.
set -euo pipefail

if [[ $# -lt 2 || $# -gt 3 ]]; then
  echo "usage: $0 BINARY SECONDS [SEED_DIR]" >&2
  exit 2
fi
binary=$1
seconds=$2
name=$(basename "$binary")
seeds=${3:-$(dirname "$binary")/../fuzz/seeds/$name}
dict=$(dirname "$0")/$name.dict
artifacts=${FUZZ_ARTIFACTS:-.}

[[ -x $binary ]] || { echo "$0: $binary: no such fuzz binary (build with -DSOFTBOARD_FUZZ=ON)" >&2; exit 2; }
[[ -d $seeds ]] || { echo "$0: $seeds: no seed directory" >&2; exit 2; }
[[ $seconds =~ ^[0-9]+$ ]] || { echo "$0: SECONDS must be a whole number" >&2; exit 2; }

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p "$artifacts"
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="${artifacts%/}/")
[[ -f $dict ]] && options+=(-dict="$dict")
"$binary" "${options[@]}" "$corpus" "$seeds"
