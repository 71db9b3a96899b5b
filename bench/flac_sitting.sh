#!/usr/bin/env bash
# Times the reading of FLAC through libsndfile in one sitting, each pair
# alternated by farm-bench: `tarvelle --check` on a long 48 kHz 24-bit FLAC
# against the flac tool's own decoding of it to /dev/null; on the WAV it was
# made from against another build (the last release, say); and -j 2 against
# -j 1 over 20 shorter FLAC files. Files on tmpfs keep the disk out of it.
set -euo pipefail

usage() {
    echo "Usage: bench/flac_sitting.sh [--runs N] [--minutes M] [--baseline DIR] [--dir DIR] [BUILD_DIR]" >&2
    exit 2
}

runs=5
minutes=20
build_dir=./build
baseline_dir=
work_dir=${TARVELLE_BENCH_DIR:-/dev/shm/tarvelle-flac-bench}
while [[ $# -gt 0 ]]; do
    case $1 in
    --runs) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; runs=$2; shift 2 ;;
    --minutes) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; minutes=$2; shift 2 ;;
    --baseline) [[ -n ${2:-} ]] || usage; baseline_dir=$2; shift 2 ;;
    --dir) [[ -n ${2:-} ]] || usage; work_dir=$2; shift 2 ;;
    -*) usage ;;
    *) build_dir=$1; shift ;;
    esac
done
tarvelle=$(realpath "$build_dir/tarvelle")
for tool in sox flac farm-bench; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done
"$tarvelle" --version | grep -q FLAC || { echo "$tarvelle does not read FLAC" >&2; exit 2; }
mkdir -p "$work_dir"
cd "$work_dir"

# Music-like: pink noise under a slow swell, with peaks near full scale.
long=long-${minutes}min
if [[ ! -f $long.flac ]]; then
    sox -n -r 48000 -b 24 -c 2 "$long.wav" synth "$((minutes * 60))" pinknoise synth sine amod 0.05 50 gain -n -0.5
    flac -s -5 -f "$long.wav" -o "$long.flac"
fi
if [[ ! -f short-20.flac ]]; then
    sox -n -r 48000 -b 24 -c 2 short.wav synth 60 pinknoise gain -n -0.5
    flac -s -5 -f short.wav -o short.flac
    for index in $(seq 1 20); do cp short.flac "short-$index.flac"; done
fi
timeout=$((runs * 400))

echo "== tarvelle --check on a ${minutes}-minute 48 kHz 24-bit FLAC (A) against flac -d -c FILE >/dev/null (B)"
farm-bench -n "$runs" --timeout "$timeout" --vs "sh -c 'flac -s -d -c $long.flac >/dev/null'" \
    -- "$tarvelle" --check -q "$long.flac" || true
if [[ -n $baseline_dir ]]; then
    echo "== tarvelle --check on the WAV it was made from (A) against $baseline_dir's (B)"
    farm-bench -n "$runs" --timeout "$timeout" --vs "$(realpath "$baseline_dir/tarvelle") --check -q $long.wav" \
        -- "$tarvelle" --check -q "$long.wav" || true
fi
echo "== tarvelle -j 2 --check over 20 one-minute FLAC files (A) against -j 1 (B)"
farm-bench -n "$runs" --timeout "$timeout" --vs "$tarvelle -j 1 --check -q $(echo short-*.flac)" \
    -- "$tarvelle" -j 2 --check -q short-*.flac || true
