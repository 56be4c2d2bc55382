#!/usr/bin/env bash
# Times the converter against cp of the same bytes on the same file system,
# and measures its peak memory and system calls.
#
#   bench/run.sh [--rounds N] [--warm] [--exe PATH]
#                           the full run (a few minutes, ~3.5 GB of disk)
#   bench/run.sh --smoke    a few small files: checks the outputs, not the time
#
# --warm never drops the page cache; --exe times another build of the
# program (an older one, say) against the same inputs.
#
# Builds Release in build-bench/ and works in build-bench/work/, which is
# removed at the end. Exit status: 0 when every output is right and memory
# stays in bounds; missed time targets are reported, not fatal.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
work=$build/work
results=$build/results

smoke=0
rounds=9
allow_cold=1
exe=
while (($#)); do
    case $1 in
        --smoke) smoke=1; rounds=1; allow_cold=0 ;;
        --rounds) rounds=${2:?--rounds needs a number}; shift ;;
        --warm) allow_cold=0 ;;
        --exe) exe=$(realpath "${2:?--exe needs a path}"); shift ;;
        *) echo "usage: bench/run.sh [--smoke] [--rounds N] [--warm] [--exe PATH]" >&2; exit 2 ;;
    esac
    shift
done

if ((smoke)); then
    many_count=12 many_min=1 many_max=65536
    large_size=$((3 * 1024 * 1024 + 1))   # odd, and many times the copy buffer
    large_label="3 MiB payload"
else
    many_count=2000 many_min=50000 many_max=500000
    large_size=$((1024 * 1024 * 1024))
    large_label="1 GiB payload"
fi
many_label="$many_count files, $many_min-$many_max B"
memory_limit_kb=8192

# ---- tools ---------------------------------------------------------------
missing=()
for tool in cmake:cmake g++:g++ cp:coreutils strace:strace; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
[[ -x /usr/bin/time ]] || missing+=(time)
if ((${#missing[@]})); then
    echo "missing tools; install them with: apt-get install -y ${missing[*]}" >&2
    exit 2
fi

# ---- build ---------------------------------------------------------------
mkdir -p "$results"
echo "building Release in $build"
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DFERNWICK_TESTS=ON \
           -DFERNWICK_SANITIZE=OFF &&
       cmake --build "$build" -j"$(nproc)" --target fernwick make_bench_inputs; } >"$results/build.log" 2>&1; then
    cat "$results/build.log" >&2
    exit 1
fi
fernwick=${exe:-$build/fernwick}
inputs=$build/bench/make_bench_inputs

# ---- work directory ------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
# Settings changed for the run (name=value) are put back at exit too.
reporting=/sys/module/page_reporting/parameters
reporting_saved=()
cleanup() {
    local kv
    for kv in "${reporting_saved[@]}"; do echo "${kv#*=}" >"$reporting/${kv%%=*}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fs_type=$(df -PT "$work" | awk 'NR == 2 { print $2 }')
avail_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [[ $fs_type == tmpfs ]]; then
    echo "note: $work is on tmpfs; cp and the converter then copy memory to memory"
fi
if ((!smoke && avail_kb < 4 * 1024 * 1024)); then
    echo "need 4 GiB free under $work, have $((avail_kb / 1024)) MiB" >&2
    exit 1
fi

# Cold runs need root and a writable /proc/sys/vm/drop_caches.
cold_ok=0
if ((allow_cold)) && sync && (echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
    cold_ok=1
fi
cache_modes=(warm)
((cold_ok)) && cache_modes+=(cold)

echo "file system: $fs_type ($(df -P "$work" | awk 'NR == 2 { print $1 }')), kernel $(uname -r)," \
    "$(nproc) cores, $(cp --version | head -n 1)"
if ((cold_ok)); then cache_note="warm runs, and cold runs after dropping it"
elif ((allow_cold)); then cache_note="warm runs only (dropping it is not permitted here)"
else cache_note="warm runs only"; fi
echo "page cache: $cache_note"
echo "plain cp on this file system: $(
    head -c 1 /dev/zero >"$work/probe"
    if strace -f -e trace=ioctl,copy_file_range -o "$work/probe.trace" cp "$work/probe" "$work/probe.copy"; then
        if grep -q 'FICLONE.* = 0' "$work/probe.trace"; then echo "reflink (shares extents)"
        elif grep -q 'copy_file_range(.*= [1-9]' "$work/probe.trace"; then echo "no reflink; in-kernel copy_file_range"
        else echo "no reflink; read/write"; fi
    else echo "unknown"; fi
    rm -f "$work/probe" "$work/probe.copy" "$work/probe.trace")"

# A virtual machine that reports freed memory back to its host pays for
# every page it touches again: runs that each fill a GiB of page cache then
# take two to four times as long at random. Reporting is held off for the
# run (root only) and the settings are put back at exit.
if ((!smoke)) && [[ -w $reporting/min_free_ms ]]; then
    for p in min_free_ms page_reporting_order; do
        if [[ -w $reporting/$p ]]; then reporting_saved+=("$p=$(cat "$reporting/$p")"); fi
    done
    if echo 60000 >"$reporting/min_free_ms" && echo 10 >"$reporting/page_reporting_order"; then
        echo "free page reporting: held off for the run (was ${reporting_saved[*]}; put back at exit)"
    else
        echo "free page reporting: on, and could not be held off (expect noisy figures)"
    fi
elif ((!smoke)) && [[ -e $reporting/min_free_ms ]]; then
    echo "free page reporting: on (not root: expect noisy figures)"
fi

# Other programs running now make the figures noisy; say so.
read -r load _ </proc/loadavg
echo "load average: $load$(awk -v l="$load" 'BEGIN { if (l > 0.5) print " (the machine is busy: expect noisy figures)" }')"

log=$results/runs.log
: >"$log"

# ---- the runs ------------------------------------------------------------
# command TOOL CASE sets `dir` and `argv`: what a user would run for it.
# clean CASE removes every output, so each run creates its files afresh.
command_for() {
    case $2.$1 in
        many.fernwick)  dir=$work/many argv=("$fernwick" '*.fda') ;;
        many.cp)        dir=$work/many argv=(cp -- "${many_names[@]}" "$work/many-copy/") ;;
        many.cpnever)   dir=$work/many argv=(cp --reflink=never -- "${many_names[@]}" "$work/many-copy/") ;;
        large.fernwick) dir=$work/large argv=("$fernwick" big.fda) ;;
        large.cp)       dir=$work/large argv=(cp big.fda big.copy) ;;
        large.cpnever)  dir=$work/large argv=(cp --reflink=never big.fda big.copy) ;;
    esac
}
clean() {
    case $1 in
        many)  rm -f "$work"/many/*.aifc; rm -rf "$work/many-copy"; mkdir "$work/many-copy" ;;
        large) rm -f "$work/large/big.aifc" "$work/large/big.copy" ;;
    esac
}

# Runs the command, behind a measuring tool if one is given.
run() {
    (cd "$dir" && exec "$@" "${argv[@]}") >>"$log" 2>&1 || { echo "run failed: $* ${argv[*]}" >&2; exit 1; }
}

# Writeback of the previous run is finished before the next one starts.
settle() {
    sync
    if [[ $1 == cold ]]; then echo 3 >/proc/sys/vm/drop_caches; fi
}

minimum() { printf '%s\n' "$@" | sort -g | head -n 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A median_of min_of calls peak
tools=(fernwick cp cpnever)

# Rounds of the three tools, the order rotated each round so that none
# always runs first. Wall time of the whole process, from the shell.
measure() {
    local case=$1 mode=$2 r k tool t0
    declare -A samples=()
    if [[ $mode == warm ]]; then
        for tool in "${tools[@]}"; do clean "$case"; command_for "$tool" "$case"; run; done
    fi
    for ((r = 0; r < rounds; r++)); do
        for ((k = 0; k < 3; k++)); do
            tool=${tools[(r + k) % 3]}
            command_for "$tool" "$case"
            clean "$case"
            settle "$mode"
            t0=$EPOCHREALTIME
            run
            samples[$tool]+=" $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f", b - a }')"
        done
    done
    for tool in "${tools[@]}"; do
        # shellcheck disable=SC2086
        median_of[$case.$mode.$tool]=$(median ${samples[$tool]})
        # shellcheck disable=SC2086
        min_of[$case.$mode.$tool]=$(minimum ${samples[$tool]})
        echo "$case $mode $tool:${samples[$tool]}" >>"$results/times.txt"
    done
    clean "$case"
}

# System calls per file (strace's total line, all processes) and peak
# memory of each tool; the converter's outputs stay for the check.
profile() {
    local case=$1 files=$2 tool out total
    for tool in "${tools[@]}"; do
        command_for "$tool" "$case"
        out=$results/strace-$case-$tool.txt
        clean "$case"
        run strace -c -f -o "$out"
        total=$(awk '$NF == "total" { print $4 }' "$out")
        calls[$case.$tool]=$(awk -v c="$total" -v n="$files" 'BEGIN { printf "%.1f", c / n }')
        out=$results/time-$case-$tool.txt
        clean "$case"
        run /usr/bin/time -v -o "$out"
        peak[$case.$tool]=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$out")
    done
    clean "$case"
    command_for fernwick "$case"
    run
}

status=0
: >"$results/times.txt"

echo "making $many_label"
mkdir -p "$work/many"
"$inputs" many "$work/many" "$many_count" "$many_min" "$many_max"
many_names=()
for f in "$work"/many/*.fda; do many_names+=("${f##*/}"); done
for mode in "${cache_modes[@]}"; do
    echo "timing many files ($mode, rounds: $rounds)"
    measure many "$mode"
done
profile many "$many_count"
if ! "$inputs" check-many "$work/many" "$many_count"; then
    echo "FAIL: converted files are wrong" >&2
    status=1
fi
rm -rf "$work/many" "$work/many-copy"

echo "making one file with a $large_label"
mkdir -p "$work/large"
"$inputs" one "$work/large/big.fda" "$large_size"
for mode in "${cache_modes[@]}"; do
    echo "timing the large file ($mode, rounds: $rounds)"
    measure large "$mode"
done
profile large 1
if ! "$inputs" check-one "$work/large/big.fda" "$work/large/big.aifc"; then
    echo "FAIL: the converted large file is wrong" >&2
    status=1
fi
rm -rf "$work/large"

# ---- report --------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t) ? "pass" : "FAIL" }'; }

echo
echo "medians of $rounds runs each; 'best' is the ratio of the fastest runs"
printf '%-36s %-5s %10s %10s %6s %7s %-7s %s\n' case cache "fernwick s" "cp s" ratio target result best
for case in many large; do
    if [[ $case == many ]]; then label="many files ($many_label)" target=1.50
    else label="large file ($large_label)" target=1.25; fi
    for mode in "${cache_modes[@]}"; do
        f=${median_of[$case.$mode.fernwick]}
        c=${median_of[$case.$mode.cp]}
        n=${median_of[$case.$mode.cpnever]}
        r=$(ratio "$f" "$c")
        if ((smoke)); then result="(smoke)"; else result=$(verdict "$r" "$target"); fi
        fmin=${min_of[$case.$mode.fernwick]}
        printf '%-36s %-5s %10s %10s %6s %7s %-7s %s\n' "$label" "$mode" "$f" "$c" "$r" "<= $target" \
            "$result" "$(ratio "$fmin" "${min_of[$case.$mode.cp]}")"
        printf '%-36s %-5s %10s %10s %6s %7s %-7s %s\n' "  vs cp --reflink=never" "$mode" "$f" "$n" \
            "$(ratio "$f" "$n")" "" "(info)" "$(ratio "$fmin" "${min_of[$case.$mode.cpnever]}")"
    done
done

echo
printf '%-36s %12s %12s %22s\n' "peak memory (max RSS, KiB)" fernwick cp "cp --reflink=never"
for case in many large; do
    printf '%-36s %12s %12s %22s\n' "$case" "${peak[$case.fernwick]}" "${peak[$case.cp]}" "${peak[$case.cpnever]}"
done
large_peak=${peak[large.fernwick]}
if ((large_peak < memory_limit_kb)); then
    echo "fernwick peak on the large file: $large_peak KiB < $memory_limit_kb KiB: pass"
else
    echo "fernwick peak on the large file: $large_peak KiB >= $memory_limit_kb KiB: FAIL"
    status=1
fi

echo
printf '%-36s %12s %12s %22s\n' "system calls per file (strace -c -f)" fernwick cp "cp --reflink=never"
printf '%-36s %12s %12s %22s\n' "many ($many_count files)" "${calls[many.fernwick]}" "${calls[many.cp]}" "${calls[many.cpnever]}"
printf '%-36s %12s %12s %22s\n' "large (1 file)" "${calls[large.fernwick]}" "${calls[large.cp]}" "${calls[large.cpnever]}"
echo
echo "samples: $results/times.txt; strace and time reports: $results/"
((status == 0)) && echo "outputs checked: all right" || echo "outputs or memory: FAILED"
exit "$status"
