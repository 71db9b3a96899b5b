#!/usr/bin/env bash
# Times a batch run of tarvelle on one long file against the I/O floor of the
# same job: reading the input once and writing six copies of it in the same
# pass. With --reports-only, times the analysis alone against SoX's
# statistics of the same file. Both run on the same file system, alternately,
# each from the same clean state.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: bench/run_benchmark.sh [options] [BUILD_DIR]

Times `tarvelle FILE` against `tee copy1.wav ... copy6.wav <FILE >/dev/null`
on a music-like file made by make_test_wav, and reports each run, the medians,
their ratio and tarvelle's peak memory. With --reports-only, times
`tarvelle --reports-only FILE` against `sox FILE -n stats` instead.

  BUILD_DIR         where tarvelle and make_test_wav are built (default ./build)
  --dir DIR         working folder (default $TARVELLE_BENCH_DIR or
                    /dev/shm/tarvelle-bench); needs about 7 times the file size
  --minutes M       length of the file in whole minutes (default 10)
  --seconds S       length in whole seconds instead, for a quick try
  --rate R          44100, 88200 or 176400 (default 176400)
  --runs N          timed runs of each (default 5)
  --pause S         seconds to wait before each timed run (default 2)
  --reports-only    the analysis alone, against SoX (needs sox)
  --keep            keep the input file for the next run
  -h, --help        show this text
EOF
}

build_dir=./build
work_dir=${TARVELLE_BENCH_DIR:-/dev/shm/tarvelle-bench}
seconds=600
rate=176400
runs=5
pause=2
keep=0
reports_only=0

die() {
    echo "run_benchmark: $*" >&2
    exit 2
}

need_value() {
    [[ $# -ge 2 && -n $2 ]] || die "$1 needs a value"
}

while [[ $# -gt 0 ]]; do
    case $1 in
    --dir) need_value "$@"; work_dir=$2; shift 2 ;;
    --minutes) need_value "$@"; [[ $2 =~ ^[0-9]+$ ]] || die "--minutes takes a whole number"; seconds=$((10#$2 * 60)); shift 2 ;;
    --seconds) need_value "$@"; [[ $2 =~ ^[0-9]+$ ]] || die "--seconds takes a whole number"; seconds=$((10#$2)); shift 2 ;;
    --rate) need_value "$@"; rate=$2; shift 2 ;;
    --runs) need_value "$@"; [[ $2 =~ ^[0-9]+$ ]] || die "--runs takes a whole number"; runs=$((10#$2)); shift 2 ;;
    --pause) need_value "$@"; [[ $2 =~ ^[0-9]+(\.[0-9]+)?$ ]] || die "--pause takes a number of seconds"; pause=$2; shift 2 ;;
    --reports-only) reports_only=1; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) usage; exit 0 ;;
    -*) die "unknown option $1 (see --help)" ;;
    *) build_dir=$1; shift ;;
    esac
done

case $rate in
44100 | 88200 | 176400) ;;
*) die "--rate takes 44100, 88200 or 176400" ;;
esac
((seconds > 0)) || die "the file needs a length above 0"
((runs >= 1)) || die "--runs needs at least 1"

tarvelle=$build_dir/tarvelle
make_test_wav=$build_dir/make_test_wav
[[ -x $tarvelle ]] || die "no tarvelle in $build_dir (build it, or name the build folder)"
[[ -x $make_test_wav ]] || die "no make_test_wav in $build_dir"
if ((reports_only == 1)); then
    command -v sox >/dev/null || die "--reports-only compares with sox: install it (Debian: sox)"
fi

time_tool=/usr/bin/time
if [[ ! -x $time_tool ]]; then
    echo "run_benchmark: $time_tool is missing; installing the package time" >&2
    { apt-get install -y time || { apt-get update && apt-get install -y time; }; } >/dev/null ||
        die "could not install time; install it and try again"
fi

frames=$((seconds * rate))
data_bytes=$((frames * 4))
((data_bytes <= 2147483647)) || die "too long for a WAV file at $rate Hz"
file_bytes=$((data_bytes + 44))

made_work_dir=0
if [[ ! -d $work_dir ]]; then
    mkdir -p -- "$work_dir"
    made_work_dir=1
fi
work_dir=$(cd -- "$work_dir" && pwd)
input=$work_dir/music-${seconds}s-${rate}Hz.wav
stem=${input%.wav}

remove_outputs() {
    rm -f -- "$work_dir"/copy[1-6].wav "$stem "*"dB clipping.wav" "$stem "*"dB clipping.txt"
}

cleanup() {
    remove_outputs
    rm -f -- "$input.partial" "$work_dir/time.out" "$work_dir/tarvelle.out" "$work_dir"/only-{3,6,9,12,15,18}dB.txt
    if ((keep == 0)); then
        rm -f -- "$input"
    fi
    # Only a folder made here, and only if nothing else is in it.
    if ((made_work_dir == 1)); then
        rmdir -- "$work_dir" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# The input, six copies or six outputs (one more for the check of a
# reports-only run against a full one), and some room to spare.
needed_kib=$((file_bytes * 7 / 1024 + 65536))
if [[ -e $input && $(stat -c %s -- "$input") -eq $file_bytes ]]; then
    needed_kib=$((needed_kib - file_bytes / 1024))
fi
free_kib=$(df -Pk -- "$work_dir" | awk 'NR == 2 { print $4 }')
((free_kib >= needed_kib)) || die "$work_dir has $((free_kib / 1024)) MiB free, needs $((needed_kib / 1024)) MiB"

if [[ -e $input && $(stat -c %s -- "$input") -eq $file_bytes ]]; then
    echo "Input: $input (already there)"
else
    echo "Input: $input (generating)"
    # Renamed only when complete, so an interrupted run leaves nothing to reuse.
    "$make_test_wav" --seconds "$seconds" --rate "$rate" "$input.partial" >/dev/null
    mv -f -- "$input.partial" "$input"
fi
echo "       $frames frames per channel, $rate Hz, $file_bytes bytes"

now() {
    date +%s.%N
}

elapsed() {
    awk -v start="$1" -v end="$2" 'BEGIN { printf "%.3f", end - start }'
}

# Settle the written data outside the timed part, so no run pays for the
# previous one's write-back. The pause lets a virtual machine hand the memory
# freed by the last run back to its host (free page reporting waits about a
# second), so that every run starts with memory in the same state rather than
# whichever state the one before left.
settle() {
    sync -f -- "$work_dir"
    sleep "$pause"
}

# Reads the input once and writes the six copies from that one read.
time_floor() {
    local start end
    start=$(now)
    if ((reports_only == 1)); then
        sox "$input" -n stats 2>/dev/null
    else
        tee -- "$work_dir"/copy{1..6}.wav <"$input" >/dev/null
    fi
    end=$(now)
    elapsed "$start" "$end"
}

tarvelle_options=()
if ((reports_only == 1)); then
    tarvelle_options=(--reports-only)
fi

time_tarvelle() {
    local start end status=0
    start=$(now)
    "$time_tool" -v -o "$work_dir/time.out" -- "$tarvelle" "${tarvelle_options[@]}" "$input" \
        >"$work_dir/tarvelle.out" 2>&1 || status=$?
    end=$(now)
    if ((status != 0)); then
        cat -- "$work_dir/tarvelle.out" >&2
        die "tarvelle exited with status $status"
    fi
    elapsed "$start" "$end"
}

# A run that skipped its work would look fast: check the twelve outputs, or
# the six reports and no WAV file.
check_outputs() {
    local level
    for level in 3 6 9 12 15 18; do
        [[ -s "$stem ${level}dB clipping.txt" ]] || die "tarvelle wrote no report for $level dB"
        if ((reports_only == 1)); then
            [[ ! -e "$stem ${level}dB clipping.wav" ]] || die "tarvelle --reports-only wrote a $level dB WAV file"
        else
            [[ $(stat -c %s -- "$stem ${level}dB clipping.wav") -eq $file_bytes ]] ||
                die "tarvelle's $level dB WAV file is missing or not $file_bytes bytes"
        fi
    done
}

# A fast reports-only run must still write the full run's reports, byte for
# byte: checked once, untimed, before the timed runs.
check_reports_match_full_run() {
    local level status=0
    "$tarvelle" --reports-only "$input" >"$work_dir/tarvelle.out" 2>&1 || status=$?
    if ((status == 2)); then
        cat -- "$work_dir/tarvelle.out" >&2
        die "$tarvelle does not take --reports-only (status 2): build a tarvelle that has the option"
    fi
    ((status == 0)) || die "tarvelle --reports-only exited with status $status"
    check_outputs
    for level in 3 6 9 12 15 18; do
        mv -f -- "$stem ${level}dB clipping.txt" "$work_dir/only-${level}dB.txt"
    done
    "$tarvelle" "$input" >/dev/null || die "tarvelle's full run exited with status $?"
    for level in 3 6 9 12 15 18; do
        cmp -s -- "$stem ${level}dB clipping.txt" "$work_dir/only-${level}dB.txt" ||
            die "the $level dB report of --reports-only differs from the full run's"
    done
    rm -f -- "$work_dir"/only-{3,6,9,12,15,18}dB.txt
}

peak_rss_kib() {
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work_dir/time.out"
}

median() {
    printf '%s\n' "$@" | sort -g | awk '{ value[NR] = $1 }
        END { if (NR % 2) printf "%.3f", value[(NR + 1) / 2]; else printf "%.3f", (value[NR / 2] + value[NR / 2 + 1]) / 2 }'
}

floor_name=floor
((reports_only == 0)) || floor_name=sox
floor_times=()
tarvelle_times=()
largest_rss_kib=0
remove_outputs
if ((reports_only == 1)); then
    check_reports_match_full_run
    remove_outputs
fi
settle
for ((run = 1; run <= runs; ++run)); do
    floor_times+=("$(time_floor)")
    remove_outputs
    settle

    tarvelle_times+=("$(time_tarvelle)")
    check_outputs
    rss_kib=$(peak_rss_kib)
    if ((rss_kib > largest_rss_kib)); then
        largest_rss_kib=$rss_kib
    fi
    remove_outputs
    settle

    printf 'Run %d: %s %s s   tarvelle %s s   (max RSS %d KiB)\n' "$run" "$floor_name" "${floor_times[-1]}" \
        "${tarvelle_times[-1]}" "$rss_kib"
done

floor_median=$(median "${floor_times[@]}")
tarvelle_median=$(median "${tarvelle_times[@]}")
echo "tarvelle said: $(head -n 1 -- "$work_dir/tarvelle.out")"
if ((reports_only == 1)); then
    # The analysis may hold the whole input, mapped or loaded, and 16 MiB more;
    # it should take at most half of SoX's time.
    budget_bytes=$((file_bytes + 16 * 1024 * 1024))
    floor_label="Median sox FILE -n stats:"
    ratio_label="Ratio tarvelle/sox (at most 0.50):"
    budget_label="File size + 16 MiB:"
else
    budget_bytes=$((12 * frames + 16 * 1024 * 1024))
    floor_label="Median floor (tee to six copies):"
    ratio_label="Ratio tarvelle/floor (at most 1.00):"
    budget_label="12N + 16 MiB, N = $frames:"
fi
awk -v f="$floor_median" -v t="$tarvelle_median" -v rss="$largest_rss_kib" -v budget="$budget_bytes" \
    -v floor_label="$floor_label" -v ratio_label="$ratio_label" -v budget_label="$budget_label" 'BEGIN {
    printf "%-44s %.3f s\n", floor_label, f
    printf "%-44s %.3f s\n", "Median tarvelle:", t
    printf "%-44s %.2f\n", ratio_label, t / f
    printf "%-44s %.1f MiB (%d KiB)\n", "Tarvelle peak memory (largest max RSS):", rss / 1024, rss
    printf "%-44s %.1f MiB (%d bytes)\n", budget_label, budget / 1048576, budget
}'
