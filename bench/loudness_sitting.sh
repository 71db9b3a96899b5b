#!/usr/bin/env bash
# Times `tarvelle --check --loudness` against `tarvelle --check` alone, FFmpeg's
# ebur128=peak=true and loudgain on the same files, alternately, in one sitting,
# and prints each side's median wall and CPU time, the ratios and tarvelle's
# peak memory. Files on tmpfs (/dev/shm) keep the disk out of it.
set -euo pipefail

usage() {
    echo "Usage: bench/loudness_sitting.sh [--runs N] [--build DIR] FILE.wav..." >&2
    exit 2
}

runs=5
build_dir=./build
files=()
while [[ $# -gt 0 ]]; do
    case $1 in
    --runs) [[ ${2:-} =~ ^[0-9]+$ ]] || usage; runs=$2; shift 2 ;;
    --build) [[ -n ${2:-} ]] || usage; build_dir=$2; shift 2 ;;
    -*) usage ;;
    *) files+=("$1"); shift ;;
    esac
done
((${#files[@]} > 0)) || usage
tarvelle=$build_dir/tarvelle
[[ -x $tarvelle ]] || { echo "no tarvelle in $build_dir" >&2; exit 2; }
for tool in ffmpeg loudgain /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done
times=$(mktemp)
trap 'rm -f -- "$times"' EXIT

# side NAME COMMAND...: one timed run; appends "NAME wall cpu rss_kib" to $times.
side() {
    local name=$1 start end
    shift
    start=$(date +%s.%N)
    /usr/bin/time -f "%U %S %M" -o "$times.one" -- "$@" >/dev/null 2>&1 || [[ $name == check* ]] ||
        { echo "$name failed" >&2; exit 1; }
    end=$(date +%s.%N)
    read -r user system rss <"$times.one"
    awk -v n="$name" -v s="$start" -v e="$end" -v u="$user" -v y="$system" -v r="$rss" \
        'BEGIN { printf "%s %.3f %.3f %d\n", n, e - s, u + y, r }' >>"$times"
}

median() {
    awk -v n="$1" -v f="$2" '$1 == n { print $f }' "$times" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

for file in "${files[@]}"; do
    : >"$times"
    for ((run = 1; run <= runs; ++run)); do
        # --check exits 3 on clipping found: not a failure here.
        side check "$tarvelle" --check -q "$file"
        side check+loudness "$tarvelle" --check --loudness -q "$file"
        side ffmpeg ffmpeg -nostdin -hide_banner -i "$file" -af ebur128=peak=true -f null -
        side loudgain loudgain "$file"
    done
    echo "$file ($runs runs each, medians)"
    for name in check check+loudness ffmpeg loudgain; do
        printf "  %-16s wall %7.3f s  cpu %7.3f s  peak %6d KiB\n" "$name" "$(median $name 2)" "$(median $name 3)" \
            "$(median $name 4)"
    done
    ours=$(median check+loudness 2)
    awk -v o="$ours" -v c="$(median check 2)" -v f="$(median ffmpeg 2)" -v l="$(median loudgain 2)" \
        'BEGIN { printf "  ffmpeg / ours %.2f, loudgain / ours %.2f, ours / --check %.2f (wall)\n", f / o, l / o, o / c }'
done
rm -f -- "$times.one"
