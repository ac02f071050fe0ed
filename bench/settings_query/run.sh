#!/usr/bin/env bash
# Times a query of every firmware setting on generated machines of 500 and 5 000 settings:
#   cold query     the client tool's query while the service runs but neither the provider nor the driver does
#                  (the service starts vrxBIOS, which loads the library, which starts its driver)
#   warm query     the same query while the provider runs (its library loaded, its driver running)
#   library cold   the library alone loaded, initialised and read (driver started), as the provider does it
#   library warm   the read and enumeration through a library already loaded and initialised
# Each figure is the median of RUNS runs, in milliseconds, wall time. The query is the client tool's
#   wmi -n root\QV\InstrumentedBIOS query "select * from QV_BIOSSetting"
# (every setting class, each answered by the provider), and includes starting the tool.
#
# Usage: bench/settings_query/run.sh [RUNS] [SIZES...]   (default 7 runs; sizes 500 5000)
# Uses the programs of build/ (QV_BUILD_DIR to use another build tree); leaves nothing behind.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${QV_BUILD_DIR:-$top/build}
runs=${1:-7}
shift || true
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(500 5000)

for program in bin/wmi bin/winmgmt bin/vrxBIOS bench/settings_library_read lib/libZmrMC.so; do
    if [ ! -e "$build/$program" ]; then
        echo "run.sh: $build/$program is missing; build first (cmake --build build --target wmi winmgmt vrxBIOS settings_library_read)" >&2
        exit 2
    fi
done

work=$(mktemp -d /tmp/qv-bench-XXXXXX)
export QV_WBEM_SERVICE=$build/bin/winmgmt
export QV_WBEM_SERVICE_IDLE_MS=600000  # the service keeps running between the runs
export QV_WBEM_PROVIDER_IDLE_MS=300    # the provider is released soon after a query: cold runs wait for that
unset QV_DEBUG_OUTPUT

# Processes whose environment names the root $1 (optionally only those whose name starts with $2).
root_processes() {
    local root=$1 name=${2:-} file pid
    for file in $(grep -lzx -F "QV_SYSTEM_ROOT=$root" /proc/[0-9]*/environ 2> /dev/null); do
        pid=${file#/proc/}
        pid=${pid%/environ}
        [ "$pid" = "$$" ] && continue
        [ "$(awk '{print $3}' "/proc/$pid/stat" 2> /dev/null)" = "Z" ] && continue  # gone already
        if [ -z "$name" ] || [[ "$(cat "/proc/$pid/comm" 2> /dev/null)" == "$name"* ]]; then echo "$pid"; fi
    done
}

cleanup() {
    for root in "$work"/root*; do
        [ -d "$root" ] || continue
        for pid in $(root_processes "$root"); do kill -KILL "$pid" 2>/dev/null || true; done
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits (at most 30 s) until neither the provider nor the driver runs on root $1.
wait_idle() {
    local deadline=$((SECONDS + 30))
    while [ -n "$(root_processes "$1" vrxBIOS)$(root_processes "$1" Zmrdtct)" ]; do
        if [ $SECONDS -ge $deadline ]; then
            echo "run.sh: the provider or the driver does not end on $1" >&2
            return 1
        fi
        sleep 0.05
    done
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR == 0) print "-"; else print v[int((NR + 1) / 2)]}'; }

# One query; prints its wall time in milliseconds, or fails when the tool fails or shows another number of
# settings than $1.
query_ms() {
    local expected=$1 start end shown
    start=$(date +%s%N)
    "$build/bin/wmi" -n 'root\QV\InstrumentedBIOS' -f list query 'select * from QV_BIOSSetting' > "$work/query.out" 2> "$work/query.err" || {
        echo "run.sh: the query failed: $(cat "$work/query.err")" >&2
        return 1
    }
    end=$(date +%s%N)
    shown=$(grep -c '^Name = ' "$work/query.out" || true)
    if [ "$shown" -ne "$expected" ]; then
        echo "run.sh: the query showed $shown settings, expected $expected" >&2
        return 1
    fi
    awk -v ns=$((end - start)) 'BEGIN {printf "%.2f\n", ns / 1e6}'
}

# The settings of profile $1 that the provider publishes as instances: enumerations, texts, integers (keyed ones
# too), passwords and ordered lists; byte blocks, dates and times belong to no class.
published() {
    python3 -c 'import json, sys
objects = json.load(open(sys.argv[1]))["system_objects"]["objects"]
print(sum(o.get("type", "enum") in ("enum", "ext_enum", "text", "int", "ext_int", "password", "orderedlist")
          and o["name"] != "--" for o in objects))' "$1"
}

# Cold runs (each after the provider and the driver ended), then warm runs; sets cold_median and warm_median.
# $2: the number of settings the query must show.
measure_queries() {
    local root=$1 expected=$2 samples=() value i
    for ((i = 0; i < runs; i++)); do
        wait_idle "$root" || return 1
        value=$(query_ms "$expected") || return 1
        samples+=("$value")
    done
    cold_median=$(printf '%s\n' "${samples[@]}" | median)
    query_ms "$expected" > /dev/null || return 1  # the provider runs from here on
    samples=()
    for ((i = 0; i < runs; i++)); do
        value=$(query_ms "$expected") || return 1
        samples+=("$value")
    done
    warm_median=$(printf '%s\n' "${samples[@]}" | median)
}

# vrxBIOS -Install -Silent. A vrxBIOS that cannot install yet (it leaves no provider namespace) is made up for:
# the schema compiled with mofcomp and the server registered by settings_bench_register (noted on stderr).
install() {
    if ! "$build/bin/vrxBIOS" -Install -Silent > "$work/install.out" 2>&1; then
        echo "run.sh: vrxBIOS -Install -Silent failed:" >&2
        sed 's/^/  /' "$work/install.out" >&2
        return 1
    fi
    "$build/bin/wmi" -n 'root\QV\InstrumentedBIOS' classes > /dev/null 2>&1 && return 0
    echo "run.sh: vrxBIOS -Install -Silent installed nothing on the $1-setting machine; compiling the schema" \
        "and registering the server instead" >&2
    [ -x "$build/bench/settings_bench_register" ] || return 1
    "$build/bin/mofcomp" "$top/mof/common.mof" > /dev/null && "$build/bin/mofcomp" "$top/mof/swprov.mof" > /dev/null &&
        "$build/bench/settings_bench_register"
}

declare -A cold warm lib_cold lib_warm records
for n in "${sizes[@]}"; do
    root=$work/root$n
    profile=$work/machine$n.json
    mkdir -p "$root"
    python3 "$here/generate_profile.py" "$n" "$profile"
    export QV_SYSTEM_ROOT=$root QV_MACHINE=$profile

    # The library alone first: nothing else uses the driver then. The service runs (as it does on Windows).
    "$build/bin/wmi" -n 'root\WMI' query 'select * from MSSmBios_RawSMBiosTables' > /dev/null
    out=$("$build/bench/settings_library_read" "$runs")
    records[$n]=$(awk '$1 == "records" {print $2}' <<< "$out")
    lib_cold[$n]=$(awk '$1 == "cold_ms" {print $2}' <<< "$out")
    lib_warm[$n]=$(awk '$1 == "warm_ms" {print $2}' <<< "$out")
    wait_idle "$root"

    cold[$n]="-"
    warm[$n]="-"
    if ! install "$n"; then
        echo "run.sh: the provider could not be installed on the $n-setting machine; no query figures" >&2
    elif ! measure_queries "$root" "$(published "$profile")"; then
        echo "run.sh: no query figures for the $n-setting machine" >&2
    else
        cold[$n]=$cold_median
        warm[$n]=$warm_median
    fi
    for pid in $(root_processes "$root"); do kill -KILL "$pid" 2>/dev/null || true; done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f\n", a / b}'; }

echo "Query of every setting (median of $runs runs, milliseconds; the query includes starting the client tool)"
printf '%-9s %9s %12s %12s %12s %12s %14s %14s\n' settings records "cold query" "warm query" "library cold" \
    "library warm" "warm/library" "cold/warm"
for n in "${sizes[@]}"; do
    printf '%-9s %9s %12s %12s %12s %12s %14s %14s\n' "$n" "${records[$n]}" "${cold[$n]}" "${warm[$n]}" \
        "${lib_cold[$n]}" "${lib_warm[$n]}" "$(ratio "${warm[$n]}" "${lib_warm[$n]}")" \
        "$(ratio "${cold[$n]}" "${warm[$n]}")"
done
if [ ${#sizes[@]} -ge 2 ]; then
    first=${sizes[0]}
    last=${sizes[${#sizes[@]} - 1]}
    echo
    echo "Growth from $first to $last settings (linear: $(ratio "$last" "$first")):"
    printf '  cold query %s, warm query %s, library cold %s, library warm %s\n' \
        "$(ratio "${cold[$last]}" "${cold[$first]}")" "$(ratio "${warm[$last]}" "${warm[$first]}")" \
        "$(ratio "${lib_cold[$last]}" "${lib_cold[$first]}")" "$(ratio "${lib_warm[$last]}" "${lib_warm[$first]}")"
fi
echo
echo "Targets: warm query 500 < 20 ms, 5000 < 150 ms; cold query 500 < 60 ms; linear growth."
