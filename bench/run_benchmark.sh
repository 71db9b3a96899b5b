#!/usr/bin/env bash
# Times a batch run of tarvelle on one long file against the I/O floor of the
# same job: reading the input once and writing six copies of it in the same
# pass. With --reports-only, times the analysis alone against one read of the
# file. With --baseline, a second build is timed in the same rounds. All run
# on the same file system, alternately, each from the same clean state.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: bench/run_benchmark.sh [options] [BUILD_DIR]

Times `tarvelle FILE` against `tee copy1.wav ... copy6.wav <FILE >/dev/null`
on a music-like file made by make_test_wav, and reports each run, the medians,
their ratio and tarvelle's peak memory. With --reports-only, times
`tarvelle --reports-only FILE` against `cat FILE >/dev/null` instead. With
--files N, the file is copied to N names and `tarvelle -j J --reports-only`
over all of them is timed against the same with -j 1 and against `cat` of
all of them.

  BUILD_DIR         where tarvelle and make_test_wav are built (default ./build)
  --dir DIR         working folder (default $TARVELLE_BENCH_DIR or
                    /dev/shm/tarvelle-bench); needs about 7 times the file size
  --minutes M       length of the file in whole minutes (default 10)
  --seconds S       length in whole seconds instead, for a quick try
  --rate R          44100, 88200 or 176400 (default 176400)
  --runs N          timed runs of each (default 5)
  --pause S         seconds to wait before each timed run (default 2)
  --reports-only    the analysis alone, against one read of the file
  --baseline DIR    also time the tarvelle built in DIR, in the same rounds
  --files N         N copies of the file, with --reports-only -j J (see above)
  --jobs J          files at once with --files (default 2)
  --compare OPTIONS also time tarvelle with these options added (quoted, as
                    "--check --loudness" or "--plot"), in the same rounds
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
baseline_dir=
file_count=0
jobs=2
compare_options=

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
    --baseline) need_value "$@"; baseline_dir=$2; shift 2 ;;
    --files) need_value "$@"; [[ $2 =~ ^[0-9]+$ ]] || die "--files takes a whole number"; file_count=$((10#$2)); reports_only=1; shift 2 ;;
    --jobs) need_value "$@"; [[ $2 =~ ^[0-9]+$ ]] || die "--jobs takes a whole number"; jobs=$((10#$2)); shift 2 ;;
    --compare) need_value "$@"; compare_options=$2; shift 2 ;;
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
baseline=
if [[ -n $baseline_dir ]]; then
    baseline=$baseline_dir/tarvelle
    [[ -x $baseline ]] || die "no tarvelle in $baseline_dir"
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

# With --files, the names of the copies: file-1.wav ... file-N.wav.
copies=()
for ((copy = 1; copy <= file_count; ++copy)); do
    copies+=("$work_dir/file-$copy.wav")
done

remove_outputs() {
    rm -f -- "$work_dir"/copy[1-6].wav "$stem "*"dB clipping.wav" "$stem "*"dB clipping.txt" \
        "$work_dir"/file-*" clipping.txt"
}

cleanup() {
    remove_outputs
    rm -f -- "$input.partial" "$work_dir/time.out" "$work_dir/tarvelle.out" "$work_dir"/only-{3,6,9,12,15,18}dB.txt \
        "${copies[@]}"
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
needed_kib=$((file_bytes * (7 + file_count) / 1024 + 65536))
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
for copy in "${copies[@]}"; do
    cp -- "$input" "$copy"
done

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
    if ((file_count > 0)); then
        cat -- "${copies[@]}" >/dev/null
    elif ((reports_only == 1)); then
        cat -- "$input" >/dev/null
    else
        tee -- "$work_dir"/copy{1..6}.wav <"$input" >/dev/null
    fi
    end=$(now)
    elapsed "$start" "$end"
}

tarvelle_options=()
tarvelle_inputs=("$input")
if ((reports_only == 1)); then
    tarvelle_options=(--reports-only)
fi
if ((file_count > 0)); then
    tarvelle_inputs=("${copies[@]}")
fi

# time_tarvelle PROGRAM [OPTION...]
time_tarvelle() {
    local program=$1 start end status=0
    shift
    local -a mode_options=("${tarvelle_options[@]}")
    # A check writes no reports: tarvelle refuses --reports-only with it.
    [[ " $* " != *" --check "* ]] || mode_options=()
    start=$(now)
    "$time_tool" -v -o "$work_dir/time.out" -- "$program" "${mode_options[@]}" "$@" "${tarvelle_inputs[@]}" \
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
    local level name
    for name in "${tarvelle_inputs[@]}"; do
        for level in 3 6 9 12 15 18; do
            [[ -s "${name%.wav} ${level}dB clipping.txt" ]] || die "tarvelle wrote no $level dB report for $name"
            if ((reports_only == 1)); then
                [[ ! -e "${name%.wav} ${level}dB clipping.wav" ]] ||
                    die "tarvelle --reports-only wrote a $level dB WAV file"
            else
                [[ $(stat -c %s -- "${name%.wav} ${level}dB clipping.wav") -eq $file_bytes ]] ||
                    die "tarvelle's $level dB WAV file is missing or not $file_bytes bytes"
            fi
        done
    done
}

# A fast reports-only run must still write the full run's reports, byte for
# byte: checked once, untimed, before the timed runs.
check_reports_match_full_run() {
    local level status=0
    "$tarvelle" --reports-only "$input" >"$work_dir/tarvelle.out" 2>&1 || status=$?
    ((status == 0)) || die "tarvelle --reports-only exited with status $status"
    for level in 3 6 9 12 15 18; do
        [[ ! -e "$stem ${level}dB clipping.wav" ]] || die "tarvelle --reports-only wrote a $level dB WAV file"
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

# What each round times besides the floor: tarvelle, then the baseline build
# or, with --files, the same tarvelle one file at a time.
names=(tarvelle)
commands=("$tarvelle")
options=("")
if ((file_count > 0)); then
    names=("tarvelle -j $jobs" "tarvelle -j 1")
    commands=("$tarvelle" "$tarvelle")
    options=("-j$jobs" "-j1")
elif [[ -n $compare_options ]]; then
    names=(tarvelle "tarvelle $compare_options")
    commands=("$tarvelle" "$tarvelle")
    options=("" "$compare_options")
elif [[ -n $baseline ]]; then
    names=(tarvelle baseline)
    commands=("$tarvelle" "$baseline")
    options=("" "")
fi
floor_name="tee to six copies"
((reports_only == 0)) || floor_name="cat FILE >/dev/null"
((file_count == 0)) || floor_name="cat of the $file_count files"
floor_times=()
declare -a times_0=() times_1=()
largest_rss_kib=0
remove_outputs
if ((reports_only == 1 && file_count == 0)); then
    check_reports_match_full_run
    remove_outputs
fi
settle
for ((run = 1; run <= runs; ++run)); do
    floor_times+=("$(time_floor)")
    remove_outputs
    settle
    line="Run $run: floor ${floor_times[-1]} s"
    for ((which = 0; which < ${#names[@]}; ++which)); do
        # shellcheck disable=SC2086 # an empty option is no word at all
        elapsed_time=$(time_tarvelle "${commands[which]}" ${options[which]})
        eval "times_$which+=(\"\$elapsed_time\")"
        # A check writes no reports.
        [[ ${options[which]} == *--check* ]] || check_outputs
        rss_kib=$(peak_rss_kib)
        if ((which == 0 && rss_kib > largest_rss_kib)); then
            largest_rss_kib=$rss_kib
        fi
        remove_outputs
        settle
        line+="   ${names[which]} $elapsed_time s (max RSS $rss_kib KiB)"
    done
    echo "$line"
done

floor_median=$(median "${floor_times[@]}")
tarvelle_median=$(median "${times_0[@]}")
echo "tarvelle said: $(head -n 1 -- "$work_dir/tarvelle.out")"
if ((file_count > 0)); then
    target="at most 3.00, or -j 1 at least 1.6 times the -j $jobs time"
elif ((reports_only == 1)); then
    target="at most 3.00"
else
    target="at most 1.00"
fi
printf '%-44s %.3f s\n' "Median $floor_name:" "$floor_median"
printf '%-44s %.3f s\n' "Median ${names[0]}:" "$tarvelle_median"
awk -v f="$floor_median" -v t="$tarvelle_median" -v label="Ratio ${names[0]}/floor ($target):" \
    'BEGIN { printf "%-44s %.2f\n", label, t / f }'
if ((${#names[@]} > 1)); then
    second_median=$(median "${times_1[@]}")
    printf '%-44s %.3f s\n' "Median ${names[1]}:" "$second_median"
    awk -v a="$tarvelle_median" -v b="$second_median" -v label="Ratio ${names[1]}/${names[0]}:" \
        'BEGIN { printf "%-44s %.2f\n", label, b / a }'
fi
# Memory does not grow with the file: the same bound for any length.
awk -v rss="$largest_rss_kib" -v jobs="$(( file_count > 0 ? jobs : 1 ))" 'BEGIN {
    printf "%-44s %.1f MiB (%d KiB)\n", "Tarvelle peak memory (largest max RSS):", rss / 1024, rss
    printf "%-44s %d MiB\n", "Bound (32 MiB a file at once):", 32 * jobs
}'
