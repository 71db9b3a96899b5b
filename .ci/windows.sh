#!/usr/bin/env bash
# The Windows build, checked from Linux: cross-builds tarvelle.exe,
# make_test_wav.exe and tarvelle_tests.exe with MinGW-w64 into build-windows,
# runs the unit tests under Wine, and checks that the Windows build writes
# byte for byte the same reports and WAV files as the Linux build, and that
# Ctrl+C while writing leaves no temporary file.
#
#   bash .ci/windows.sh LINUX_BUILD_DIR     (e.g. bash .ci/windows.sh build)
#
# LINUX_BUILD_DIR holds an already built tarvelle and make_test_wav.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 LINUX_BUILD_DIR" >&2
    exit 2
fi
linux_build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build-windows"

for binary in tarvelle make_test_wav; do
    if [[ ! -x "$linux_build/$binary" ]]; then
        echo "windows.sh: $linux_build/$binary is missing: build the Linux tree first" >&2
        exit 2
    fi
done

step() {
    echo "== windows: $*"
}

# --- Tools ---------------------------------------------------------------

find_wine() {
    local candidate
    for candidate in "$(command -v wine64 || true)" /usr/lib/wine/wine64 "$(command -v wine || true)"; do
        if [[ -n "$candidate" && -x "$candidate" ]]; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
find_wine >/dev/null || missing+=(wine64)
[[ -f /usr/src/googletest/CMakeLists.txt ]] || missing+=(googletest)
# Applies Debian's security fixes to the packed libsndfile.
command -v patch >/dev/null || missing+=(patch)
if [[ ${#missing[@]} -gt 0 ]]; then
    step "installing ${missing[*]}"
    sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "${missing[@]}"
fi
wine=$(find_wine)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

# --- Build ---------------------------------------------------------------

step "cross-building into $build"
# No system libsndfile for the target: it and its codecs are built from third_party/.
cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
    -DTARVELLE_BUILD_BENCH=OFF -DTARVELLE_BUNDLED_SNDFILE=ON
cmake --build "$build" -j2 --target tarvelle make_test_wav tarvelle_tests

step "zip package"
rm -f "$build"/tarvelle-*.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip_contents=$(python3 -c 'import sys, zipfile; print(" ".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' \
    "$build"/tarvelle-*.zip)
if [[ "$zip_contents" != "README.md tarvelle.exe" ]]; then
    echo "windows.sh: the zip holds '$zip_contents', not just tarvelle.exe and README.md" >&2
    exit 1
fi

# --- Wine ----------------------------------------------------------------

# A prefix of our own; no display, so nothing can open a window and wait; no
# Mono or Gecko, whose installers would ask.
export WINEPREFIX="$build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

stop_wineserver() {
    "$wineserver" -k >/dev/null 2>&1 || true
}
trap stop_wineserver EXIT

# The first start sets the prefix up, which takes a while.
step "starting Wine ($wine)"
timeout 900 "$wine" wineboot --init </dev/null >"$build/wineboot.log" 2>&1 || {
    cat "$build/wineboot.log" >&2
    echo "windows.sh: wineboot failed" >&2
    exit 1
}

# Runs a Windows program with no standard input, so nothing waits for a key.
run_windows() {
    timeout 900 "$wine" "$@" </dev/null
}

# --- Unit tests ----------------------------------------------------------

step "unit tests under Wine"
if ! run_windows "$build/tarvelle_tests.exe" --gtest_brief=1 --gtest_color=no; then
    echo "windows.sh: unit tests failed under Wine" >&2
    exit 1
fi

# --- Same outputs as the Linux build ---------------------------------------

work="$build/compare"
rm -rf "$work"
mkdir -p "$work/inputs" "$work/linux" "$work/windows"

step "making test inputs"
"$linux_build/make_test_wav" --seconds 3 --rate 44100 --seed 1 "$work/inputs/music 44k.wav" >/dev/null
"$linux_build/make_test_wav" --seconds 2 --rate 88200 --seed 2 "$work/inputs/music 88k.wav" >/dev/null
"$linux_build/make_test_wav" --seconds 1 --rate 176400 --seed 3 "$work/inputs/music 176k.wav" >/dev/null

# Hand-made headers and sample runs the generator never makes: junk chunk
# tags, float format tag, an 18-byte fmt chunk, a data size that is no whole
# number of frames, a data chunk longer than the file, full-scale samples
# on both sides, silence, and a file with no frames at all.
python3 - "$work/inputs" <<'PYTHON'
import math
import os
import struct
import sys

folder = sys.argv[1]


def header(data_size, rate=44100, channels=2, bits=16, format_tag=1, fmt_size=16,
           tags=(b"RIFF", b"WAVE", b"fmt ", b"data"), byte_rate=None, block_align=4):
    if byte_rate is None:
        byte_rate = rate * 4
    return (tags[0] + struct.pack("<i", data_size + 36) + tags[1] + tags[2] +
            struct.pack("<ihHiihh", fmt_size, format_tag, channels, rate, byte_rate, block_align, bits) +
            tags[3] + struct.pack("<I", data_size & 0xFFFFFFFF))


def samples(values):
    return struct.pack("<%dh" % len(values), *values)


def write(name, data):
    with open(os.path.join(folder, name), "wb") as output:
        output.write(data)


# Square-ish bursts that clip at every level, with runs of every length.
bursts = []
for index in range(20000):
    level = int(32767 * math.sin(index * 0.013) * math.sin(index * 0.0007))
    bursts += [level, -level if index % 3 else -32768]
bursts[100:104] = [32767, -32768, 32767, -32768]

odd = samples(bursts[:4001]) + b"\x01"
write("odd tags.wav", header(len(odd), rate=88200, format_tag=3, fmt_size=18,
                             tags=(b"RIFX", b"WAVX", b"fmt\0", b"dat\xff"), byte_rate=12345,
                             block_align=7) + odd + b"LIST\x04\x00\x00\x00junk")
write("longer than file.wav", header(400000) + samples(bursts[:10001]))
write("full scale.wav", header(8 * 4, rate=176400) +
      samples([32767, -32768, 32767, -32768, -32768, 32767, 0, 0, 1, -1, 32767, 32767, -32768, -32768, 5, 5]))
write("silence.wav", header(44100 * 4) + bytes(44100 * 4))
write("no frames.wav", header(0))
write("abc", header(4000) + samples(bursts[:2000]))
PYTHON

suffixes=()
for decibels in 3 6 9 12 15 18; do
    suffixes+=(" ${decibels}dB clipping.txt" " ${decibels}dB clipping.wav")
done

# The name less its last four characters; a shorter name stays whole.
output_stem() {
    local name=$1
    if [[ ${#name} -lt 4 ]]; then
        echo "$name"
    else
        echo "${name:0:${#name}-4}"
    fi
}

failures=0
compared=0

# Every one of the twelve outputs of input name, in two folders.
compare_outputs() {
    local name=$1 linux_folder=$2 windows_folder=$3 stem suffix output
    stem=$(output_stem "$name")
    for suffix in "${suffixes[@]}"; do
        output="$stem$suffix"
        compared=$((compared + 1))
        if [[ ! -f "$linux_folder/$output" || ! -f "$windows_folder/$output" ]]; then
            echo "FAIL '$output': missing on $([[ -f "$linux_folder/$output" ]] && echo Windows || echo Linux)" >&2
            failures=$((failures + 1))
        elif ! cmp "$linux_folder/$output" "$windows_folder/$output"; then
            echo "FAIL '$output' differs between Linux and Windows" >&2
            failures=$((failures + 1))
        fi
    done
}

step "batch mode on both builds"
for input in "$work/inputs"/*; do
    name=$(basename "$input")
    cp "$input" "$work/linux/$name"
    cp "$input" "$work/windows/$name"
    linux_status=0
    windows_status=0
    if [[ $name == "odd tags.wav" ]]; then
        # Read at the fixed offsets, which batch mode does not: the line dialogue's file.
        (cd "$work/linux" && printf '%s\n' "$name" | timeout 900 "$linux_build/tarvelle" >/dev/null) ||
            linux_status=$?
        (cd "$work/windows" && printf '%s\r\n' "$name" | timeout 900 "$wine" "$build/tarvelle.exe" >/dev/null) ||
            windows_status=$?
    else
        (cd "$work/linux" && timeout 900 "$linux_build/tarvelle" "$name" </dev/null >/dev/null) || linux_status=$?
        (cd "$work/windows" && run_windows "$build/tarvelle.exe" "$name" >/dev/null) || windows_status=$?
    fi
    if [[ $linux_status -ne 0 || $windows_status -ne 0 ]]; then
        echo "FAIL $name: exit status $linux_status on Linux, $windows_status on Windows (0 expected)" >&2
        failures=$((failures + 1))
        continue
    fi
    compare_outputs "$name" "$work/linux" "$work/windows"
done

# Without arguments and with a pipe for input, the dialogue reads the name
# as a line and waits for no key.
step "line dialogue on Windows"
name="music 44k.wav"
mkdir -p "$work/lines"
cp "$work/inputs/$name" "$work/lines/"
if (cd "$work/lines" && printf '%s\r\n' "$name" | timeout 900 "$wine" "$build/tarvelle.exe" >/dev/null); then
    compare_outputs "$name" "$work/linux" "$work/lines"
else
    echo "FAIL the line dialogue of tarvelle.exe did not end with status 0" >&2
    failures=$((failures + 1))
fi

# Rejected inputs: both builds say no, and neither writes anything.
step "rejected inputs"
mkdir -p "$work/rejected/linux" "$work/rejected/windows"
python3 - "$work/rejected/linux" <<'PYTHON'
import os
import struct
import sys

folder = sys.argv[1]
# Refused in batch mode: block aligns that contradict the channels and bits, compressed audio.
fields = {"mono.wav": (1, 1, 16, 44100), "8 bit.wav": (1, 2, 8, 44100), "adpcm 48k.wav": (2, 2, 16, 48000)}
for name, (tag, channels, bits, rate) in fields.items():
    with open(os.path.join(folder, name), "wb") as output:
        output.write(b"RIFF" + struct.pack("<i", 36 + 64) + b"WAVEfmt " +
                     struct.pack("<ihHiihh", 16, tag, channels, rate, rate * 4, 4, bits) +
                     b"data" + struct.pack("<i", 64) + bytes(64))
PYTHON
cp "$work/rejected/linux"/* "$work/rejected/windows/"
for input in "$work/rejected/linux"/*; do
    name=$(basename "$input")
    linux_status=0
    (cd "$work/rejected/linux" && timeout 900 "$linux_build/tarvelle" "$name" </dev/null 2>/dev/null) ||
        linux_status=$?
    windows_status=0
    (cd "$work/rejected/windows" && run_windows "$build/tarvelle.exe" "$name" 2>/dev/null) || windows_status=$?
    if [[ $linux_status -ne 1 || $windows_status -ne 1 ]]; then
        echo "FAIL $name: exit status $linux_status on Linux, $windows_status on Windows (1 expected)" >&2
        failures=$((failures + 1))
    fi
done
for side in linux windows; do
    if [[ $(find "$work/rejected/$side" -type f | wc -l) -ne 3 ]]; then
        echo "FAIL a rejected input left files behind on $side" >&2
        failures=$((failures + 1))
    fi
done

# Wine raises Ctrl+C as a console event on SIGINT: stopped while writing, a
# run leaves no temporary file behind.
step "Ctrl+C while writing"
mkdir -p "$work/stopped"
"$linux_build/make_test_wav" --seconds 1200 --rate 44100 --seed 4 "$work/stopped/long.wav" >/dev/null
(cd "$work/stopped" && exec "$wine" "$build/tarvelle.exe" long.wav </dev/null >/dev/null 2>&1) &
stopped_pid=$!
deadline=$((SECONDS + 120))
while ! compgen -G "$work/stopped/.tarvelle-*.tmp" >/dev/null && kill -0 "$stopped_pid" 2>/dev/null &&
    [[ $SECONDS -lt $deadline ]]; do
    sleep 0.05
done
sleep 0.2
if ! kill -INT "$stopped_pid" 2>/dev/null; then
    echo "FAIL the run over long.wav ended before it could be stopped" >&2
    failures=$((failures + 1))
fi
wait "$stopped_pid" || true
# The wineserver closes the ended process's handles, and so removes the files
# marked for deletion, a moment after the process itself is gone.
for ((tries = 0; tries < 40; ++tries)); do
    compgen -G "$work/stopped/.tarvelle-*" >/dev/null || break
    sleep 0.05
done
if compgen -G "$work/stopped/.tarvelle-*" >/dev/null; then
    echo "FAIL Ctrl+C left a temporary file: $(cd "$work/stopped" && echo .tarvelle-*)" >&2
    failures=$((failures + 1))
fi
if [[ -f "$work/stopped/long 18dB clipping.wav" ]]; then
    echo "FAIL the run over long.wav was not stopped by Ctrl+C" >&2
    failures=$((failures + 1))
fi
rm -f "$work/stopped"/*.wav

# The generator promises the same bytes for the same seed, length and rate.
step "make_test_wav.exe"
(cd "$work" && run_windows "$build/make_test_wav.exe" --seconds 1 --rate 88200 --seed 7 "generated.wav" >/dev/null)
"$linux_build/make_test_wav" --seconds 1 --rate 88200 --seed 7 "$work/generated-linux.wav" >/dev/null
if ! cmp "$work/generated-linux.wav" "$work/generated.wav"; then
    echo "FAIL make_test_wav.exe and make_test_wav wrote different files" >&2
    failures=$((failures + 1))
fi

if [[ $failures -ne 0 ]]; then
    echo "windows.sh: $failures check(s) failed" >&2
    exit 1
fi
step "OK: $compared outputs byte-identical between Linux and Windows"
