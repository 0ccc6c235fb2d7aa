#!/usr/bin/env bash
# Mines 20 shops of 2,000 ratings each from the demo marketplace through kestrova-cli,
# then fetches the very same pages with curl alone, and prints both times.
# Usage: bench/mining_bench.sh [BUILD_DIR]   (run by hand; not part of ctest)
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'kill $market 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/kestrova-market" --port 0 --shops 20 --ratings 2000 --log "$work/requests.log" >"$work/market.out" 2>&1 &
market=$!
for _ in $(seq 50); do grep -q listening "$work/market.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/market.out" | head -1)
base="http://127.0.0.1:$port"
printf '[Market]\r\nRatingHost=%s\r\nDomain=127.0.0.1\r\n' "$base" >"$work/config.ini"

urls=()
for i in $(seq 20); do urls+=("$base/shop/$i.htm"); done

start=$(date +%s.%N)
"$bin/kestrova-cli" --data-dir "$work" mine "${urls[@]}" >/dev/null 2>&1
end=$(date +%s.%N)
pages=$(wc -l <"$work/requests.log")
stored=$("$bin/kestrova-cli" --data-dir "$work" sql "select count(*) as n from pjinfo")

# The same request lines, fetched by one curl process (connections reused) and by a
# process per page.
sed -n 's/^GET \([^ ]*\) HTTP.*/\1/p' "$work/requests.log" | sed "s|^|$base|" >"$work/urls.txt"
cstart=$(date +%s.%N)
# Connection: close gives every page a connection of its own, as the workers have.
xargs curl -s -H "Connection: close" <"$work/urls.txt" >/dev/null
cend=$(date +%s.%N)
lstart=$(date +%s.%N)
while read -r u; do curl -s -o /dev/null "$u"; done <"$work/urls.txt"
lend=$(date +%s.%N)

awk -v s="$start" -v e="$end" -v p="$pages" -v cs="$cstart" -v ce="$cend" -v ls="$lstart" -v le="$lend" \
    -v n="$stored" 'BEGIN {
    t = e - s; c = ce - cs; l = le - ls
    printf "kestrova-cli mine: %.2f s for %d pages (%.0f pages/s), stored %s\n", t, p, p / t, n
    printf "curl, one process:  %.2f s (mine / curl = %.2f)\n", c, t / c
    printf "curl, per page:     %.2f s (mine / curl = %.2f)\n", l, t / l
}'

# Parallel downloads against a marketplace 100 ms away: [Net] Connections 1, 4 and 8
# against curl fetching the same addresses 8 at a time, then a throttling marketplace.
# Set MINING_BENCH_QUICK=1 to skip this part.
[ "${MINING_BENCH_QUICK:-0}" = 1 ] && exit 0
kill $market 2>/dev/null || true
wait $market 2>/dev/null || true

start_market() { # log file, extra options...
    local log=$1
    shift
    rm -f "$work/market.out"
    "$bin/kestrova-market" --port 0 --shops 20 --ratings 2000 --latency 100 --log-times --log "$log" "$@" \
        >"$work/market.out" 2>&1 &
    market=$!
    for _ in $(seq 100); do grep -q listening "$work/market.out" 2>/dev/null && break; sleep 0.1; done
    port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/market.out" | head -1)
    base="http://127.0.0.1:$port"
}
stop_market() { kill $market 2>/dev/null || true; wait $market 2>/dev/null || true; }

mine_with() { # connections, data folder, log file; prints the seconds taken
    local n=$1 dir=$2
    mkdir -p "$dir"
    printf '[Market]\r\nRatingHost=%s\r\nDomain=127.0.0.1\r\n[Net]\r\nConnections=%s\r\n' "$base" "$n" \
        >"$dir/config.ini"
    local urls=()
    for i in $(seq 20); do urls+=("$base/shop/$i.htm"); done
    local s e
    s=$(date +%s.%N)
    "$bin/kestrova-cli" --data-dir "$dir" mine --to 2000 "${urls[@]}" >"$dir/out.json" 2>"$dir/err.txt" || true
    e=$(date +%s.%N)
    awk -v s="$s" -v e="$e" 'BEGIN { printf "%.2f", e - s }'
}
most_in_flight() { awk '{ if ($2 > m) m = $2 } END { print m + 0 }' "$1"; }
stored_in() { "$bin/kestrova-cli" --data-dir "$1" sql "select count(*) as n from pjinfo" | sed 's/[^0-9]//g'; }

declare -A secs
for n in 1 4 8; do
    start_market "$work/par$n.log"
    secs[$n]=$(mine_with "$n" "$work/par$n" "$work/par$n.log")
    printf 'Connections=%s: %s s, %s requests, most in flight %s, stored %s\n' "$n" "${secs[$n]}" \
        "$(wc -l <"$work/par$n.log")" "$(most_in_flight "$work/par$n.log")" "$(stored_in "$work/par$n")"
    [ "$n" = 8 ] && sed -n 's/^[0-9]* [0-9]* GET \([^ ]*\) HTTP.*/\1/p' "$work/par8.log" | sed "s|^|$base|" \
        >"$work/urls8.txt"
    [ "$n" = 8 ] || stop_market
done
cs=$(date +%s.%N)
xargs -P 8 -n 1 curl -s -o /dev/null -H "Connection: close" <"$work/urls8.txt"
ce=$(date +%s.%N)
stop_market
awk -v c1="${secs[1]}" -v c4="${secs[4]}" -v c8="${secs[8]}" -v cs="$cs" -v ce="$ce" 'BEGIN {
    c = ce - cs
    printf "curl -P 8 on the same addresses: %.2f s\n", c
    printf "Connections=4 vs 1: %.2fx faster (goal 3.3x)\n", c1 / c4
    printf "Connections=8 vs 1: %.2fx faster (goal 6x); against curl -P 8: %.2fx (goal 1.25x at most)\n", c1 / c8, c8 / c
}'

start_market "$work/throttle.log" --fail-every 10 --fail-mode throttle --retry-after 1
t=$(mine_with 8 "$work/throttle" "$work/throttle.log")
stop_market
printf 'throttled (every 10th request 429, Retry-After 1 s), Connections=8: %s s, stored %s of 40000, most in flight %s\n' \
    "$t" "$(stored_in "$work/throttle")" "$(most_in_flight "$work/throttle.log")"

# Killed at about half its pages and resumed: the requests after the resume against the pages
# of the shops that were not done (goal: at most those plus one shop's worth).
start_market "$work/kill.log"
dir="$work/kill"
mkdir -p "$dir"
printf '[Market]\r\nRatingHost=%s\r\nDomain=127.0.0.1\r\n[Net]\r\nConnections=8\r\n' "$base" >"$dir/config.ini"
urls=()
for i in $(seq 20); do urls+=("$base/shop/$i.htm"); done
"$bin/kestrova-cli" --data-dir "$dir" mine --to 2000 "${urls[@]}" >/dev/null 2>&1 &
miner=$!
while [ "$(wc -l <"$work/kill.log")" -lt 520 ] && kill -0 $miner 2>/dev/null; do sleep 0.05; done
kill -9 $miner 2>/dev/null || true
wait $miner 2>/dev/null || true
before=$(wc -l <"$work/kill.log")
done_shops=$("$bin/kestrova-cli" --data-dir "$dir" runs | sed -n 's/.*"shopsDone": \([0-9]*\).*/\1/p')
"$bin/kestrova-cli" --data-dir "$dir" resume >/dev/null 2>&1
after=$(wc -l <"$work/kill.log")
stop_market
# One shop is its shop page and 50 rating pages.
printf 'killed after %s requests with %s shops done; the resume asked %s pages for %s unfinished shops (%s pages), stored %s of 40000\n' \
    "$before" "$done_shops" "$((after - before))" "$((20 - done_shops))" "$(((20 - done_shops) * 51))" "$(stored_in "$dir")"
