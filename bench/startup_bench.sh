#!/usr/bin/env bash
# Start-up to a shown main window with the navigation page filled in, warm: an empty data
# folder and one of 500 shops with 1,000,000 ratings (the page counts both). Prints the
# median of 9 starts each, as the program reports it (kestrova.startup log category).
# With "installed", the programs of the unpacked package (ctest's package_build leaves it in
# BUILD_DIR/package-test/root) are timed instead, plus a new user's first start: each start gets
# an empty $XDG_DATA_HOME, so the data folder is created and seeded every time.
# Usage: bench/startup_bench.sh [BUILD_DIR] [offscreen|xvfb] [installed]   (run by hand; not ctest)
set -euo pipefail
build=${1:-build}
platform=${2:-offscreen}
installed=${3:-}
# Under a virtual X server: the script again, inside xvfb-run.
if [ "$platform" = xvfb ]; then exec xvfb-run -a "$0" "$build" xcb "$installed"; fi
bin=$(cd "$build/bin" && pwd)
if [ "$installed" = installed ]; then bin=$(cd "$build/package-test/root/usr/bin" && pwd); fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One start (on folder $1, or the default folder without it): prints the milliseconds the
# program reports, then ends it.
start_once() {
    local out="$work/out.txt"
    QT_LOGGING_RULES="kestrova.startup.debug=true" QT_QPA_PLATFORM=${QPA:-offscreen} \
        "$bin/kestrova" ${1:+--data-dir "$1"} >"$out" 2>&1 &
    local pid=$!
    for _ in $(seq 200); do grep -q 'window shown' "$out" && break; sleep 0.05; done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sed -n 's/.*window shown after \([0-9]*\) ms.*/\1/p' "$out"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_all() {
    mkdir -p "$work/empty" "$work/full"
    start_once "$work/full" >/dev/null # creates the database
    sqlite3 "$work/full/quelmar2.mdb" "
        with recursive n(i) as (select 1 union all select i + 1 from n where i < 500)
        insert into dianBase (id, dianzhu, webaddr) select i, 'shop' || i, 'http://127.0.0.1/' || i from n;
        with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000000)
        insert into pjInfo (dian_id, pj, pjsj, itemId_pjsj)
        select (i % 500) + 1, 'good', '2026-01-01 10:00:00', 'x' || i from n;"
    if [ "$installed" = installed ]; then
        times=$(for i in $(seq 10); do
            XDG_DATA_HOME=$work/user$i HOME=$work/home$i start_once
        done | tail -n 9)
        echo "new user (XDG folder made and seeded): median $(echo "$times" | median) ms (runs: $(echo $times))"
    fi
    for folder in empty full; do
        start_once "$work/$folder" >/dev/null # warm
        times=$(for _ in $(seq 9); do start_once "$work/$folder"; done)
        echo "$folder: median $(echo "$times" | median) ms (runs: $(echo $times))"
    done
}

if [ "$platform" = xcb ]; then QPA=xcb; fi
run_all
