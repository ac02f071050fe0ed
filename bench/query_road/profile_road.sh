#!/usr/bin/env bash
# Instruction profile (callgrind) of one warm settings query in each process of the road: the client tool,
# the service and vrxBIOS. Usage: bench/query_road/profile_road.sh KEPT_ROOT [OUT_DIR] [WQL]
# KEPT_ROOT is a root left by `query_road_bench --keep` (its service and provider must not run). The service
# and the provider are started under callgrind through their registrations, warmed by one query, then their
# counters are zeroed, one more query runs (the client under callgrind too) and the counts are dumped.
set -euo pipefail
root=$1
out=${2:-/tmp/query-road-profile}
wql=${3:-select * from QV_BIOSSetting}
build=$(cd "$(dirname "$0")/../../build" && pwd)
mkdir -p "$out"
rm -f "$out"/callgrind.*
for program in winmgmt vrxBIOS; do
    printf '#!/bin/sh\nexec valgrind --tool=callgrind --callgrind-out-file=%s/callgrind.%s.%%p %s/bin/%s "$@" 2>>%s/%s.log\n' \
        "$out" "$program" "$build" "$program" "$out" "$program" >"$out/$program-wrap"
    chmod +x "$out/$program-wrap"
done
# Registry values are UTF-32 text; the provider's LocalServer32 now names its wrapper. The service's is
# rewritten by the locator from QV_WBEM_SERVICE.
python3 - "$root/registry.db" "$out/vrxBIOS-wrap" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
keys = [r[0] for r in db.execute("select key, data from vals where name = ''")
        if r[1] is not None and isinstance(r[1], bytes) and 'vrxBIOS'.encode('utf-32-le') in r[1]
        and db.execute("select name from keys where id = ?", (r[0],)).fetchone()[0].lower() == 'localserver32']
for key in keys:
    db.execute("update vals set data = ? where key = ? and name = ''",
               (sys.argv[2].encode('utf-32-le') + b'\0\0\0\0', key))
db.commit()
PY
export QV_SYSTEM_ROOT=$root QV_WBEM_SERVICE=$out/winmgmt-wrap QV_WBEM_PROVIDER_IDLE_MS=600000 \
       QV_WBEM_SERVICE_IDLE_MS=600000
"$build/bin/wmi" query "$wql" >/dev/null
# Only the processes of this root: other callgrind runs on the machine are left alone.
pids=$(grep -l "QV_SYSTEM_ROOT=$root" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 || true)
for pid in $pids; do callgrind_control -z "$pid" >/dev/null 2>&1 || true; done
valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.wmi" "$build/bin/wmi" query "$wql" \
    >/dev/null 2>"$out/wmi.log"
for pid in $pids; do callgrind_control -d "$pid" >/dev/null 2>&1 || true; done
sleep 1
for f in "$out"/callgrind.*; do
    [ -s "$f" ] || continue
    printf '%-40s %s\n' "$(basename "$f")" "$(callgrind_annotate "$f" 2>/dev/null | awk '/PROGRAM TOTALS/ {print $1}')"
done
echo "The service and the provider still run under callgrind on $root; end them when done."
