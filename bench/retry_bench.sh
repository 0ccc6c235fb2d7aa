#!/usr/bin/env bash
# Mining through failures and re-mining only what is new, against kestrova-market --latency 50:
#  1. 20 shops of 2,000 ratings, without failures and with every 7th request dropped (retried
#     after [Net] RetryDelay); prints the ratio of the failing run to the clean run plus the
#     retry pauses (target: at most 1.3);
#  2. the same 20 shops after --newer 40, with and without --new-only; prints the rating
#     pages per shop requested by the new-only run (target: at most 2) and the speed-up
#     (target: at least 20).
# Usage: bench/retry_bench.sh [BUILD_DIR] [RETRY_DELAY_MS]   (run by hand; not part of ctest)
set -euo pipefail
build=${1:-build}
delay=${2:-100}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
market=
today=$(date +%F) # restarts keep the ratings' dates
trap '[ -n "$market" ] && kill $market 2>/dev/null; rm -rf "$work"' EXIT

# start_market PORT LOG ARGS...: starts the market and sets $market and $port.
start_market() {
    local want=$1 log=$2
    shift 2
    [ -n "$market" ] && { kill $market 2>/dev/null || true; wait $market 2>/dev/null || true; }
    "$bin/kestrova-market" --port "$want" --shops 20 --ratings 2000 --latency 50 --today "$today" --log "$log" "$@" \
        >"$work/market.out" 2>&1 &
    market=$!
    for _ in $(seq 100); do grep -q listening "$work/market.out" 2>/dev/null && break; sleep 0.1; done
    port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/market.out" | head -1)
}

# setup DIR: a data folder pointing at the market.
setup() {
    mkdir -p "$1"
    printf '[Market]\r\nRatingHost=http://127.0.0.1:%s\r\nDomain=127.0.0.1\r\n[Net]\r\nRetryDelay=%s\r\n' \
        "$port" "$delay" >"$1/config.ini"
}

# mine DIR [OPTIONS]: mines the 20 shops, prints the seconds taken.
mine() {
    local dir=$1
    shift
    local urls=() start end
    for i in $(seq 20); do urls+=("http://127.0.0.1:$port/shop/$i.htm"); done
    start=$(date +%s.%N)
    "$bin/kestrova-cli" --data-dir "$dir" mine "$@" "${urls[@]}" >/dev/null 2>"$dir/stderr.txt"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'
}

stored() { "$bin/kestrova-cli" --data-dir "$1" sql "select count(*) as n, count(distinct dian_id || '/' || itemId_pjsj) as d from pjinfo" | tr -d '\n'; }

start_market 0 "$work/clean.log"
setup "$work/clean"
t0=$(mine "$work/clean")
echo "clean run:    $t0 s, $(wc -l <"$work/clean.log") requests, stored $(stored "$work/clean")"

start_market "$port" "$work/failing.log" --fail-every 7 --fail-mode drop
setup "$work/failing"
t1=$(mine "$work/failing")
retries=$(grep -c '^retry ' "$work/failing/stderr.txt" || true)
pauses=$(sed -n 's/^retry [0-9]* of [0-9]* in \([0-9.]*\) s:.*/\1/p' "$work/failing/stderr.txt" | awk '{ s += $1 } END { printf "%.2f", s }')
echo "failing run:  $t1 s, $(wc -l <"$work/failing.log") requests, $retries retries, pauses $pauses s, stored $(stored "$work/failing")"
awk -v t0="$t0" -v t1="$t1" -v p="$pauses" 'BEGIN { printf "  failing / (clean + pauses) = %.2f (target <= 1.3)\n", t1 / (t0 + p) }'

# Both re-mining runs start from the clean run's database.
cp -r "$work/clean" "$work/full"
start_market "$port" "$work/newonly.log" --newer 40
t2=$(mine "$work/clean" --new-only)
pages=$(grep -o 'user-rate-[0-9a-z]*--' "$work/newonly.log" | sort | uniq -c | awk '{ if ($1 > m) m = $1 } END { print m }')
echo "--new-only:   $t2 s, $(wc -l <"$work/newonly.log") requests, at most $pages rating pages a shop, stored $(stored "$work/clean")"
start_market "$port" "$work/full.log" --newer 40
t3=$(mine "$work/full")
echo "full re-mine: $t3 s, $(wc -l <"$work/full.log") requests, stored $(stored "$work/full")"
awk -v a="$t2" -v b="$t3" 'BEGIN { printf "  full / new-only = %.1f (target >= 20)\n", b / a }'
