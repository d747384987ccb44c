#!/bin/sh
# Runs the fuzz targets of build/fuzz (`make fuzz`), one after another,
# each for FUZZ_SECONDS seconds (default 60), and prints for each one the
# runs it made, the coverage it reached (libFuzzer's cov and ft) and the
# crashes it found:
#   run-fuzz.sh [TARGET...]        (default: every target)
#   FUZZ_INPUT=FILE run-fuzz.sh TARGET   runs the target once on FILE, in
#                                        the same sandbox, output to the terminal
# Exit status 0 when every target ran clean.
#
# Every target runs inside bubblewrap: the PC's file system read-only,
# /mnt a scratch file system of its own in memory (for one input, the
# folder build/fuzz/run/TARGET/mnt, to be looked at afterwards), /dev,
# /proc and /tmp private and read-only, no network, no capabilities.  The
# receiver's console /dev/pts/0 is /dev/null there.  Writable besides /mnt are only the target's corpus and
# artifact folders.  The extractor writes every archive name under "/":
# in the sandbox that lands in the scratch folder or fails with EROFS.
# The targets refuse to run outside such a sandbox.
#
# Inputs that a run finds new are kept in build/fuzz/run/TARGET/corpus for
# the next run; the committed seeds are in tests/fuzz-seeds/TARGET.  A
# crashing input lands in build/fuzz/run/TARGET/artifacts; the whole
# output of a run in build/fuzz/run/TARGET/log.txt.
set -u
seconds=${FUZZ_SECONDS:-60}
top=$(pwd)
build=$top/build/fuzz
all="extract tapinfo strtoutf8 strtoiso paths timeformat tappack"
targets=${*:-$all}

case $seconds in
    ''|*[!0-9]*) echo "run-fuzz: FUZZ_SECONDS is no count of seconds: '$seconds'" >&2; exit 2 ;;
esac
if ! command -v bwrap >/dev/null 2>&1; then
    echo "run-fuzz: bubblewrap (bwrap) is missing; make deps installs it" >&2
    exit 2
fi
symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)

# The longest input each target makes (the seeds are shorter), and the
# options a target needs beside.
options() {
    case $1 in
        extract) echo "-max_len=24576" ;;
        tapinfo) echo "-max_len=16384" ;;
        tappack) echo "-max_len=32768 -close_fd_mask=2" ;;  # tappack's own messages on stderr
        paths) echo "-max_len=1024" ;;
        timeformat) echo "-max_len=16" ;;
        *) echo "-max_len=4096" ;;
    esac
}

# sandbox DIR PROGRAM ARGUMENT...: runs the program in the sandbox with
# DIR/corpus and DIR/artifacts writable and, as /mnt, a file system in
# memory of its own (256 MB), or the folder DIR/mnt when $scratch is
# "folder".  The project's tree is bound back, read-only, over the
# private /tmp, so that a tree under /tmp still has its targets and seeds.
sandbox() {
    dir=$1
    shift
    if [ "$scratch" = folder ]; then
        set -- --bind "$dir/mnt" /mnt "$@"
    else
        set -- --size 268435456 --tmpfs /mnt "$@"
    fi
    bwrap --ro-bind / / --dev /dev --tmpfs /dev/pts --dev-bind /dev/null /dev/pts/0 \
        --remount-ro /dev/pts --remount-ro /dev --proc /proc --remount-ro /proc \
        --tmpfs /tmp --ro-bind "$top" "$top" --remount-ro /tmp \
        --bind "$dir/corpus" "$dir/corpus" \
        --bind "$dir/artifacts" "$dir/artifacts" --chdir "$dir/artifacts" \
        --unshare-all --cap-drop ALL --new-session --die-with-parent \
        ${symbolizer:+--setenv ASAN_SYMBOLIZER_PATH "$symbolizer"} "$@"
}

if [ -n "${FUZZ_INPUT:-}" ] && [ $# -ne 1 ]; then
    echo "run-fuzz: FUZZ_INPUT goes with one target" >&2
    exit 2
fi
status=0
scratch=memory
if [ -z "${FUZZ_INPUT:-}" ]; then
    printf '%-11s %10s %6s %6s %8s\n' target runs cov ft crashes
fi
for target in $targets; do
    program=$build/fuzz_$target
    seeds=$top/tests/fuzz-seeds/$target
    dir=$build/run/$target
    if [ ! -x "$program" ] || [ ! -d "$seeds" ]; then
        echo "run-fuzz: no target $target (build it with make fuzz)" >&2
        status=1
        continue
    fi
    if [ -n "${FUZZ_INPUT:-}" ]; then
        rm -rf "$dir/mnt"
        mkdir -p "$dir/mnt" "$dir/corpus" "$dir/artifacts"
        cp "$FUZZ_INPUT" "$dir/artifacts/input" || exit 2  # where the sandbox sees it
        scratch=folder
        sandbox "$dir" "$program" "$dir/artifacts/input"
        status=$?
        continue
    fi
    rm -rf "$dir/mnt" "$dir/artifacts"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    scratch=memory
    # shellcheck disable=SC2046
    sandbox "$dir" "$program" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        $(options "$target") -artifact_prefix="$dir/artifacts/" "$dir/corpus" "$seeds" > "$dir/log.txt" 2>&1
    result=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -n 1)
    coverage=$(grep -E '^#[0-9]+.* cov: [0-9]+ ft: [0-9]+' "$dir/log.txt" | tail -n 1)
    cov=$(echo "$coverage" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
    ft=$(echo "$coverage" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
    crashes=$(find "$dir/artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l)
    printf '%-11s %10s %6s %6s %8s\n' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$crashes"
    if [ "$crashes" -ne 0 ]; then
        find "$dir/artifacts" -type f | sed 's/^/    /'
        grep -m 1 -E 'ERROR: |runtime error: |fuzz check failed: ' "$dir/log.txt" | sed 's/^/    /'
        status=1
    elif [ "$result" -ne 0 ] || [ -z "$runs" ]; then
        echo "    the target did not run to its end (exit status $result): see $dir/log.txt"
        tail -n 5 "$dir/log.txt" | sed 's/^/    /'
        status=1
    fi
done
exit $status
